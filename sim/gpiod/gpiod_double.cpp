// Simulated libgpiod: the version 1 chip and single-line calls over chips
// held in the process, with a log of what callers did to them.
#include "gpiod_double.h"

#include <gpiod.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct LineState
{
    int direction = GPIOD_LINE_DIRECTION_INPUT;
    bool driven = false;     // the output level, kept across releases
    bool inputLevel = false; // what the outside world puts on the line
    gpiod_line* owner = nullptr;
    bool held = false; // by another process
    std::string consumer;

    int level() const
    {
        return direction == GPIOD_LINE_DIRECTION_OUTPUT ? driven : inputLevel;
    }
};

struct ChipState
{
    std::string name;
    std::vector<LineState> lines;
};

struct gpiod_line
{
    gpiod_chip* chip;
    unsigned int offset;
};

// One open of a chip: line requests made through it end when it closes.
struct gpiod_chip
{
    std::shared_ptr<ChipState> state;
    std::map<unsigned int, gpiod_line> lines;
};

namespace
{

std::vector<std::shared_ptr<ChipState>> board;
std::vector<GpiodDoubleEvent> events;
int openChips = 0;

// Logs a call and sets errno to its result (0 or an errno value).
int record(GpiodDoubleEventKind kind, const std::string& chip,
           unsigned int offset, int value, int error,
           const gpiod_line_request_config* config = nullptr)
{
    GpiodDoubleEvent e{kind, {}, offset, {}, 0, 0, value, error};
    std::snprintf(e.chip, sizeof(e.chip), "%s", chip.c_str());
    if (config != nullptr)
    {
        std::snprintf(e.consumer, sizeof(e.consumer), "%s",
                      config->consumer != nullptr ? config->consumer : "");
        e.requestType = config->request_type;
        e.flags = config->flags;
    }
    events.push_back(e);
    errno = error;
    return error == 0 ? 0 : -1;
}

LineState* find(const char* chip, unsigned int offset)
{
    for (auto& c : board)
    {
        if (c->name == chip && offset < c->lines.size())
        {
            return &c->lines[offset];
        }
    }
    return nullptr;
}

LineState& state(gpiod_line* line)
{
    return line->chip->state->lines[line->offset];
}

void giveBack(gpiod_line* line)
{
    LineState& s = state(line);
    if (s.owner == line)
    {
        s.owner = nullptr;
        s.consumer.clear();
    }
}

// The board ipmid sees when no test has set one up.
[[maybe_unused]] const bool defaultBoard = [] {
    GpiodDoubleChip chip{"gpiochip0", 232};
    gpiod_double_reset(&chip, 1);
    return true;
}();

} // namespace

extern "C" {

void gpiod_double_reset(const GpiodDoubleChip* chips, size_t count)
{
    board.clear();
    for (size_t i = 0; i < count; ++i)
    {
        board.push_back(std::make_shared<ChipState>(ChipState{
            chips[i].name, std::vector<LineState>(chips[i].numLines)}));
    }
    events.clear();
}

int gpiod_double_hold(const char* chip, unsigned int offset,
                      const char* consumer)
{
    LineState* s = find(chip, offset);
    if (s != nullptr)
    {
        s->held = consumer != nullptr;
        s->consumer = consumer != nullptr ? consumer : "";
    }
    return s != nullptr ? 0 : -1;
}

int gpiod_double_set_input(const char* chip, unsigned int offset, int level)
{
    LineState* s = find(chip, offset);
    if (s != nullptr)
    {
        s->inputLevel = level != 0;
    }
    return s != nullptr ? 0 : -1;
}

size_t gpiod_double_events(const GpiodDoubleEvent** out)
{
    *out = events.data();
    return events.size();
}

int gpiod_double_open_chips(void)
{
    return openChips;
}

// The library's interface.

gpiod_chip* gpiod_chip_open(const char* path)
{
    for (auto& c : board)
    {
        if ("/dev/" + c->name == path)
        {
            record(gpiodDoubleOpen, path, 0, 0, 0);
            ++openChips;
            return new gpiod_chip{c, {}};
        }
    }
    record(gpiodDoubleOpen, path, 0, 0, ENOENT);
    return nullptr;
}

void gpiod_chip_close(gpiod_chip* chip)
{
    for (auto& [offset, line] : chip->lines)
    {
        giveBack(&line);
    }
    record(gpiodDoubleClose, chip->state->name, 0, 0, 0);
    --openChips;
    delete chip;
}

gpiod_line* gpiod_chip_get_line(gpiod_chip* chip, unsigned int offset)
{
    if (offset >= chip->state->lines.size())
    {
        errno = EINVAL;
        return nullptr;
    }
    return &chip->lines.try_emplace(offset, gpiod_line{chip, offset})
                .first->second;
}

int gpiod_line_direction(gpiod_line* line)
{
    return state(line).direction;
}

int gpiod_line_request(gpiod_line* line,
                       const gpiod_line_request_config* config, int default_val)
{
    LineState& s = state(line);
    int type = config->request_type;
    bool known = type >= GPIOD_LINE_REQUEST_DIRECTION_AS_IS &&
                 type <= GPIOD_LINE_REQUEST_EVENT_BOTH_EDGES;
    int error = !known ? EINVAL : (s.held || s.owner != nullptr) ? EBUSY : 0;
    if (error == 0)
    {
        s.owner = line;
        s.consumer = config->consumer != nullptr ? config->consumer : "?";
        if (type == GPIOD_LINE_REQUEST_DIRECTION_OUTPUT)
        {
            s.direction = GPIOD_LINE_DIRECTION_OUTPUT;
            s.driven = default_val != 0;
        }
        else if (type != GPIOD_LINE_REQUEST_DIRECTION_AS_IS)
        {
            s.direction = GPIOD_LINE_DIRECTION_INPUT;
        }
    }
    return record(gpiodDoubleRequest, line->chip->state->name, line->offset,
                  default_val, error, config);
}

void gpiod_line_release(gpiod_line* line)
{
    giveBack(line);
    record(gpiodDoubleRelease, line->chip->state->name, line->offset, 0, 0);
}

int gpiod_line_get_value(gpiod_line* line)
{
    if (state(line).owner != line)
    {
        errno = EPERM;
        return -1;
    }
    return state(line).level();
}

int gpiod_line_set_value(gpiod_line* line, int value)
{
    LineState& s = state(line);
    // As the kernel does, only a line requested as an output takes a value.
    bool output = s.owner == line && s.direction == GPIOD_LINE_DIRECTION_OUTPUT;
    if (output)
    {
        s.driven = value != 0;
    }
    return record(gpiodDoubleSetValue, line->chip->state->name, line->offset,
                  value, output ? 0 : EPERM);
}

} // extern "C"
