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
    # Recursive: what is mounted below the host path stays in view (a test
    # wrapper's own bind mounts over files of the build, say).
    mount --no-canonicalize --rbind "/proc/self/fd/$fd" "$target"
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

# sb_wait_ready NAME [PATTERN]: the line must match the glob PATTERN
# (default: the word "ready").
sb_wait_ready() {
    local name=$1 pattern=${2:-ready} line='' ok=1
    local var=_SB_READY_FD_${name//[^A-Za-z0-9_]/_}
    local fd=${!var}
    # EOF (the helper died before it was ready) ends the read at once.
    # shellcheck disable=SC2053 # PATTERN is a glob on purpose
    if ! read -r -t 30 -u "$fd" line || [[ $line != $pattern ]]; then
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

# --- The private system bus and the mocked peer services -------------------
#
# Each mock is a python-dbusmock template, $SB_DIR/mocks/KEY.py, run as its
# own process on the sandbox's system bus.  While one runs, $SB_RUN/KEY.pid
# holds its PID, $SB_RUN/KEY.log is dbusmock's log of every call (Get
# included) and $SB_RUN/KEY.out its stdout and stderr (appended across
# restarts; a file, never a pipe: a mock writing to a pipe nobody reads
# stops answering).  Template parameters come from the JSON given to
# sb_start_mock, or else from $SB_PARAMS_KEY.

SB_MOCK_KEYS=(systemd led network state_host state_bmc state_chassis software
    fan_sensor temp_sensor)

# Debian's interpreter: it has dbus-python and dbusmock, another python3
# earlier on PATH may not.
SB_PYTHON=/usr/bin/python3

# sb_start_bus PIDVAR: start the sandbox's dbus-daemon; sb_wait_ready
# dbus-daemon 'unix:*' waits until it listens (it prints its address then).
sb_start_bus() {
    mkdir -p /run/dbus || return 1
    sb_start_ready dbus-daemon "$1" dbus-daemon --config-file="$SB_DIR/config/system-bus.conf" \
        --nofork --nopidfile --nosyslog --print-address=3
}

# True only inside the board sandbox (the token the sandbox wrote matches
# the environment's): the mock functions talk to the system bus, which must
# never be the host's.
sb_in_sandbox() {
    local token=''
    [[ -n ${KESTREL_SANDBOX_TOKEN:-} && -n ${SB_RUN:-} ]] || return 1
    read -r token 2>/dev/null </run/kestrel-sandbox/token || return 1
    [[ $token == "$KESTREL_SANDBOX_TOKEN" ]]
}

sb_require_sandbox() {
    sb_in_sandbox && return 0
    sb_log "the mocks run only inside the board sandbox (sim/sandbox)"
    return 1
}

sb_mock_known() {
    local key=$1 k
    for k in "${SB_MOCK_KEYS[@]}"; do
        [[ $k == "$key" ]] && return 0
    done
    sb_log "unknown mock '$key' (known: ${SB_MOCK_KEYS[*]})"
    return 1
}

# sb_mock_name KEY VAR: set VAR to the bus name the mock owns (the template's
# BUS_NAME).
sb_mock_name() {
    # Local names unlike any caller's VAR: printf -v would set ours instead.
    local _sb_line _sb_re="^BUS_NAME *= *['\"]([^'\"]+)['\"]"
    while IFS= read -r _sb_line; do
        if [[ $_sb_line =~ $_sb_re ]]; then
            printf -v "$2" '%s' "${BASH_REMATCH[1]}"
            return 0
        fi
    done <"$SB_DIR/mocks/$1.py"
    sb_log "no BUS_NAME in $SB_DIR/mocks/$1.py"
    return 1
}

# sb_mock_pid KEY VAR: set VAR to the PID of the running mock KEY; fails when
# it is not running.
sb_mock_pid() {
    local _sb_pid='' _sb_arg
    local -a _sb_args=()
    read -r _sb_pid 2>/dev/null <"$SB_RUN/$1.pid" || return 1
    [[ $_sb_pid =~ ^[0-9]+$ ]] || return 1
    # The PID must still be that mock, not a process that reused the number.
    mapfile -d '' _sb_args 2>/dev/null <"/proc/$_sb_pid/cmdline" || return 1
    for _sb_arg in "${_sb_args[@]}"; do
        if [[ $_sb_arg == "$SB_DIR/mocks/$1.py" ]]; then
            printf -v "$2" '%s' "$_sb_pid"
            return 0
        fi
    done
    return 1
}

# sb_start_mock KEY [JSON]: start mock KEY in the background (sb_wait_mock
# waits for it).  JSON, or else $SB_PARAMS_KEY, holds template parameters.
sb_start_mock() {
    local key=$1 params pid
    sb_require_sandbox || return 1
    sb_mock_known "$key" || return 1
    if sb_mock_pid "$key" pid; then
        sb_log "mock $key is already running (PID $pid)"
        return 1
    fi
    if (($# >= 2)); then
        params=$2
    else
        local var=SB_PARAMS_$key
        params=${!var:-}
    fi
    local -a cmd=("$SB_PYTHON" -B -m dbusmock --system -t "$SB_DIR/mocks/$key.py" -l "$SB_RUN/$key.log")
    [[ -n $params ]] && cmd+=(-p "$params")
    # Its own session: a Ctrl-C for the command in the sandbox does not
    # reach it, and no SIGHUP when the shell that started it exits.  Started
    # from a subshell, where job control is off even in an interactive shell
    # (no job messages), so setsid need not fork and $! is the mock's PID.
    (
        setsid "${cmd[@]}" </dev/null >>"$SB_RUN/$key.out" 2>&1 &
        printf '%s\n' "$!" >"$SB_RUN/$key.pid"
    )
}

# sb_wait_mock KEY...: wait until each mock owns its name and answers (all at
# once); fails at once when one of them exits first.
sb_wait_mock() {
    local key pid name
    local -a targets=()
    sb_require_sandbox || return 1
    for key; do
        sb_mock_known "$key" || return 1
        if ! read -r pid 2>/dev/null <"$SB_RUN/$key.pid"; then
            sb_log "mock $key was not started"
            return 1
        fi
        sb_mock_name "$key" name || return 1
        targets+=("$name=$pid")
    done
    ((${#targets[@]})) || return 0
    if ! "$SB_PYTHON" "$SB_DIR/lib/bus-wait.py" --timeout "${SB_MOCK_TIMEOUT:-30}" "${targets[@]}"; then
        sb_log "mock(s) $* did not become ready; see KEY.out and KEY.log in the run directory"
        return 1
    fi
}

# sb_start_mocks KEY...: start the mocks in parallel and wait for all.
sb_start_mocks() {
    local key
    for key; do
        sb_start_mock "$key" || return 1
    done
    sb_wait_mock "$@"
}

# sb_stop_mock KEY: stop mock KEY and wait until its name is gone from the
# bus and the process has exited, so the next call to it fails with
# ServiceUnknown.
sb_stop_mock() {
    local key=$1 pid name
    sb_require_sandbox || return 1
    sb_mock_known "$key" || return 1
    if ! sb_mock_pid "$key" pid; then
        sb_log "mock $key is not running"
        rm -f "$SB_RUN/$key.pid"
        return 1
    fi
    sb_mock_name "$key" name || return 1
    kill -TERM "$pid" 2>/dev/null
    # A stopped (SIGSTOP) mock only acts on the TERM once continued.
    kill -CONT "$pid" 2>/dev/null
    "$SB_PYTHON" "$SB_DIR/lib/bus-wait.py" --gone --timeout "${SB_MOCK_TIMEOUT:-30}" "$name=$pid" ||
        return 1
    rm -f "$SB_RUN/$key.pid"
}

# Stop every running mock by PID without waiting for the bus (the sandbox's
# own cleanup; the bus goes next, and whatever is left dies with the PID
# namespace).
sb_stop_all_mocks() {
    local key pid
    for key in "${SB_MOCK_KEYS[@]}"; do
        if sb_mock_pid "$key" pid; then
            kill -TERM "$pid" 2>/dev/null
            kill -CONT "$pid" 2>/dev/null
        fi
        rm -f "$SB_RUN/$key.pid"
    done
    return 0
}

# The board's network interfaces and the peer namespace (sb_peer).
# shellcheck source=sim/lib/network.sh
. "${BASH_SOURCE[0]%/*}/network.sh"
