// boardpilot: runs once at boot, identifies the board by its chassis ID and
// runs the platform's start-up commands.
#include "platform.hpp"

#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>

#include "romcell.h"

#ifndef BOARDPILOT_CONFIG
#define BOARDPILOT_CONFIG "/usr/share/platform-control/config.json"
#endif

int main()
{
    kestrel::chassis::Record record{};
    // A failed read leaves the zeroed buffer, which reads as not set.
    read_eeprom(record.data(), kestrel::chassis::recordOffset, record.size());
    std::string key = boardpilot::platformKey(record);

    try
    {
        std::ifstream config(BOARDPILOT_CONFIG);
        boardpilot::runPlatformCommands(
            config, key, [](const std::string& cmd) {
                // The command's own status is not ours to judge.
                [[maybe_unused]] int status = std::system(cmd.c_str());
            });
    }
    catch (const std::exception& e)
    {
        std::cerr << e.what() << std::endl;
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
