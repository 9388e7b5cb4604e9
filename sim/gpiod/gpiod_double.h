/* The control side of the simulated libgpiod (libgpiod.so.2, version 1
 * interface).  Chips live in the process and are opened as "/dev/<name>";
 * a line keeps its direction and driven level when released, as the kernel
 * does.  Until a test resets it the board has one chip, "gpiochip0", of
 * 232 free input lines at level 0.  Only the calls the handlers make exist.
 * Not thread-safe: one thread drives it. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct GpiodDoubleChip
{
    const char* name;
    unsigned int numLines;
};

/* Replaces the board with these chips (all lines free inputs at level 0)
 * and clears the event log.  Chips still open keep their old state. */
void gpiod_double_reset(const struct GpiodDoubleChip* chips, size_t count);

/* Marks a line as held by another process under `consumer` (NULL: free it
 * again).  Returns 0, or -1 when there is no such chip or line. */
int gpiod_double_hold(const char* chip, unsigned int offset,
                      const char* consumer);

/* The level an input line reads, set from outside the chip. */
int gpiod_double_set_input(const char* chip, unsigned int offset, int level);

enum GpiodDoubleEventKind
{
    gpiodDoubleOpen,
    gpiodDoubleClose,
    gpiodDoubleRequest,
    gpiodDoubleSetValue,
    gpiodDoubleRelease,
};

struct GpiodDoubleEvent
{
    enum GpiodDoubleEventKind kind;
    char chip[64]; /* Open: the path asked for; else the chip's name */
    unsigned int offset;
    char consumer[32]; /* Request */
    int requestType;   /* Request */
    int flags;         /* Request */
    int value;         /* Request: default value; SetValue: the value */
    int result;        /* 0, or the errno the call failed with */
};

/* Events since the last reset, oldest first. */
size_t gpiod_double_events(const struct GpiodDoubleEvent** out);

/* Chips opened and not yet closed. */
int gpiod_double_open_chips(void);

#ifdef __cplusplus
}
#endif
