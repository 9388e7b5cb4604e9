# shellcheck shell=bash
# Shell helpers for the board sandbox (sourced by sim/sandbox; tests may
# source it too through "$SB_DIR/lib/sandbox-lib.sh").

sb_log() {
    printf 'sandbox: %s\n' "$*" >&2
}

# Setup failures exit 2: a distinct status from a skipped test (77), and the
# message says which step went wrong.
sb_die() {
    sb_log "$*"
    exit 2
}

# True if PATH lies strictly below DIR (both absolute, no trailing slash).
sb_is_below() {
    [[ $1 == "$2"/* ]]
}

# Bind-mount the directory open on file descriptor FD at TARGET.  Going
# through /proc/self/fd reaches directories whose path is already hidden
# under one of the sandbox's own mounts (a state dir below /tmp, say).
sb_bind_fd() {
    local fd=$1 target=$2
    mkdir -p "$target" || return 1
    mount --no-canonicalize --bind "/proc/self/fd/$fd" "$target"
}

# sb_start_ready NAME PIDVAR CMD...: start a helper that writes one line to
# fd 3 once it is ready to serve; sb_wait_ready NAME waits for that line
# (never sleep).  Starting early and waiting late lets the helper's start-up
# overlap the rest of the setup.  Its stdout and stderr go to
# $SB_RUN/NAME.log, never to a pipe nobody reads.  The helper runs in its own
# session so a Ctrl-C aimed at the command in the sandbox does not reach it.
# Sets PIDVAR to the helper's PID.
sb_start_ready() {
    local name=$1 pidvar=$2 fd
    shift 2
    # A pipe, not a FIFO: opening a FIFO would block the helper until the
    # reader arrives, and the sandbox holds no write end that could hide the
    # helper's death.
    exec {fd}< <(exec setsid "$@" 3>&1 </dev/null >>"$SB_RUN/$name.log" 2>&1)
    printf -v "$pidvar" '%s' "$!"
    printf -v "_SB_READY_FD_${name//[^A-Za-z0-9_]/_}" '%s' "$fd"
}

sb_wait_ready() {
    local name=$1 line='' ok=1
    local var=_SB_READY_FD_${name//[^A-Za-z0-9_]/_}
    local fd=${!var}
    # EOF (the helper died before it was ready) ends the read at once.
    if ! read -r -t 30 -u "$fd" line || [[ $line != ready ]]; then
        sb_log "$name did not become ready; see $name.log in the run directory"
        ok=0
    fi
    exec {fd}<&-
    unset "$var"
    ((ok))
}

# Stop a helper by PID and reap it.
sb_stop() {
    local pid=$1
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    wait "$pid" 2>/dev/null || true
}
