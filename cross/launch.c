/* Runs a cross-built program under qemu-arm, for the test runs of a cross
 * build (cross/emulate).  Each of the build's executables is covered, in a
 * private mount namespace, by a two-line script whose interpreter line is
 *
 *     #!LAUNCHER REAL
 *
 * so the kernel starts this program as `LAUNCHER REAL SCRIPT ARGS...`, and
 * a program that executes another of the build's programs by its path gets
 * it emulated too, as binfmt_misc would do, but without registering
 * anything on the machine.  Built statically: the host's loader never reads
 * the target's LD_PRELOAD or LD_LIBRARY_PATH, which this program hands to
 * the emulated program's loader alone (qemu's -E).  qemu runs under
 * a link named after the program, so the process's name (/proc/PID/comm,
 * the journal's _COMM) is the program's own. */
#include <errno.h>
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "launch: run through a script's #! line\n");
        return 127;
    }
    const char* real = argv[1];
    const char* script = argv[2];
    /* Given when this program is compiled: the directory of the links to
     * qemu-arm, and the target's root for qemu's -L. */
    const char* bin = EMULATION_BIN;
    const char* prefix = EMULATION_PREFIX;
    /* EMULATION_LIBS (may be empty): put last on the emulated programs'
     * LD_LIBRARY_PATH. */
    char* name = strdup(script);
    char qemu[4096];
    snprintf(qemu, sizeof qemu, "%s/%s", bin, basename(name));

    char** args = calloc((size_t)argc + 16, sizeof *args);
    char* moved[2] = {NULL, NULL};
    const char* vars[2] = {"LD_PRELOAD", "LD_LIBRARY_PATH"};
    int n = 0;
    args[n++] = qemu;
    args[n++] = "-L";
    args[n++] = (char*)prefix;
    args[n++] = "-0";
    args[n++] = (char*)script;
    for (int i = 0; i < 2; ++i)
    {
        const char* value = getenv(vars[i]);
        char joined[8192];
        if (i == 1 && EMULATION_LIBS[0] != '\0')
        {
            /* Libraries of the target's tools, unpacked beside the build. */
            snprintf(joined, sizeof joined, "%s%s%s", value ? value : "",
                     value ? ":" : "", EMULATION_LIBS);
            value = joined;
        }
        if (value != NULL)
        {
            size_t size = strlen(vars[i]) + strlen(value) + 2;
            moved[i] = malloc(size);
            snprintf(moved[i], size, "%s=%s", vars[i], value);
            unsetenv(vars[i]);
            args[n++] = "-E";
            args[n++] = moved[i];
        }
    }
    args[n++] = (char*)real;
    for (int i = 3; i < argc; ++i)
    {
        args[n++] = argv[i];
    }
    args[n] = NULL;
    execv(qemu, args);
    fprintf(stderr, "launch: %s: %s\n", qemu, strerror(errno));
    return 127;
}
