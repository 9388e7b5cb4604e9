#!/usr/bin/env python3
"""Every place of the daemons, the tool and the library that runs a shell or
another program, or hands a command line to one that does, against the list
below of the reviewed ones and how each builds its command.  A new call fails
this test until it is reviewed and listed; a listed one that went away fails
it too, so the list stays the true one.

    shell_audit.py SOURCE_ROOT
"""
import re
import sys
from pathlib import Path

DIRS = ['oem', 'watchkeeper', 'portwarden', 'boardpilot', 'boardlibs']
CALLS = re.compile(
    r'\b(system|popen|exec[lv]p?e?|execvpe|posix_spawnp?|fork|vfork|wordexp)'
    r'\s*\(|\b(SystemShell|runShell|runCommand)\b|\bshell\.run\(|\bShell&')

# file | code line with blanks squeezed | what builds the command
REVIEWED = {tuple(entry.split(' | ')[:2]) for entry in """
oem/common/board_seams.cpp | int SystemShell::run(const char* command) | the Shell seam; callers below
oem/common/board_seams.cpp | int status = std::system(command); | the Shell seam; callers below
oem/common/board_seams.hpp | struct SystemShell final : Shell | declaration
oem/ncsi_select.cpp | SidebandCfg{}, kestrel::SystemShell{}, macCommands); | constexpr table of three literals; the port byte goes to the store only
oem/core/ncsi_select.hpp | Answer setNcsiSelect(Request in, SidebandStore& store, Shell& shell, | declaration
oem/core/ncsi_select.cpp | Answer setNcsiSelect(Request in, SidebandStore& store, Shell& shell, | the MacCommands table passed in
oem/core/ncsi_select.cpp | shell.run(commands.unbind); | table
oem/core/ncsi_select.cpp | shell.run(commands.bind); | table
oem/core/ncsi_select.cpp | shell.run(commands.restartNetworkd); | table
oem/core/restore_default.hpp | int delayShutdown(int32_t seconds, Sleep& sleep, Shell& shell); | declaration
oem/core/restore_default.cpp | int delayShutdown(int32_t seconds, Sleep& sleep, Shell& shell) | the seconds only set the sleep
oem/core/restore_default.cpp | return shell.run("shutdown"); | literal
oem/restore_default.cpp | kestrel::SystemShell shell; | delayShutdown
watchkeeper/watchkeeper.hpp | virtual void runCommand(const std::string& command) = 0; | declaration
watchkeeper/watchkeeper.hpp | void runCommand(const std::string& command) override; | declaration
watchkeeper/watchkeeper.cpp | void BusActuator::runCommand(const std::string& command) | a "run" string of the configuration file
watchkeeper/watchkeeper.cpp | [[maybe_unused]] int status = std::system(command.c_str()); | a "run" string of the configuration file
watchkeeper/watchkeeper.cpp | actuator.runCommand(std::get<RunCommand>(effect).command); | the plan: configured commands only; signal values only choose them
portwarden/ssh_mon.cpp | CommandResult runShell(const std::string& command) | filterCommand
portwarden/ssh_mon.cpp | FILE* pipe = ::popen((command + " 2>&1").c_str(), "r"); | filterCommand: literals and a key of sshDefaults
portwarden/ssh_mon.cpp | if (auto failure = enforceSshRule(name, allowed, runShell)) | name: the sshDefaults key found for the bus name (handleNewInterface)
portwarden/main.cpp | ::execv(sibling.c_str(), argv); | no shell: the epoll build beside /proc/self/exe, own argv
portwarden/main.cpp | ::execv(PORTWARDEN_EPOLL_FALLBACK, argv); | no shell: a build-time path, own argv
boardpilot/main.cpp | [[maybe_unused]] int status = std::system(cmd.c_str()); | a "run" string of the configuration; the chassis ID only selects
""".strip().splitlines()}


def code_lines(path):
    """The file's lines with comments and string-free blanks squeezed."""
    text = re.sub(r'/\*.*?\*/', lambda m: '\n' * m.group().count('\n'),
                  path.read_text(), flags=re.S)
    for line in text.splitlines():
        yield ' '.join(re.sub(r'(^|\s)//.*$', '', line).split())


def main(root):
    root = Path(root)
    found = set()
    for d in DIRS:
        for path in sorted((root / d).rglob('*')):
            if path.suffix not in ('.cpp', '.hpp', '.h') or 'test' in path.parts:
                continue
            rel = str(path.relative_to(root))
            found |= {(rel, line) for line in code_lines(path) if CALLS.search(line)}
    for f, line in sorted(found - REVIEWED):
        print(f'not reviewed: {f}: {line}')
    for f, line in sorted(REVIEWED - found):
        print(f'listed but not found: {f}: {line}')
    print(f'{len(found)} calls found, {len(REVIEWED)} reviewed')
    return 1 if found ^ REVIEWED or not found else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
