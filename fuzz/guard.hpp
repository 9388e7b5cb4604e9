// Targets that run the library's effects (the system bus, fixed board
// paths) run only inside the board sandbox, as the tests that do so.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrel::fuzz
{

inline void requireSandbox()
{
    const char* token = std::getenv("KESTREL_SANDBOX_TOKEN");
    std::ifstream in("/run/kestrel-sandbox/token");
    std::string stored;
    if (token == nullptr || *token == '\0' || !std::getline(in, stored) ||
        stored != token)
    {
        std::fputs("refusing to run outside the board sandbox (scripts/fuzz "
                   "runs the targets in sim/sandbox)\n",
                   stderr);
        std::exit(77);
    }
}

} // namespace kestrel::fuzz
