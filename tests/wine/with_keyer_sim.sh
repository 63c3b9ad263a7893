#!/usr/bin/env bash
# Runs one Windows test program under Wine against a fresh keyer emulator: the emulator's
# pty appears in the Wine prefix as the COM ports listed below, and its control port is
# handed to the program in PELLMAR_KEYER_SIM_CONTROL_PORT. A fresh emulator per run keeps
# one test case's bytes out of the next one's log.
#
#   with_keyer_sim.sh KEYER_SIM WINE PROGRAM [ARGUMENTS...]
#
# Needs WINEPREFIX (scripts/wine-env.sh sets it). Listing the tests needs no emulator.
set -u

keyer_sim="${1:-}"
wine="${2:-}"
if [ $# -lt 3 ]; then
    echo "usage: with_keyer_sim.sh KEYER_SIM WINE PROGRAM [ARGUMENTS...]" >&2
    exit 2
fi
shift 2

if [ -z "$wine" ] || ! command -v "$wine" >/dev/null 2>&1; then
    echo "with_keyer_sim: no Wine program ('$wine'); install wine64 and reconfigure" >&2
    exit 1
fi
for argument in "$@"; do
    if [ "$argument" = "--gtest_list_tests" ]; then
        exec "$wine" "$@"
    fi
done

if [ ! -x "$keyer_sim" ]; then
    echo "with_keyer_sim: the keyer emulator '$keyer_sim' is missing; build the host preset" \
        "first (cmake --preset host && cmake --build --preset host) or set" \
        "PELLMAR_KEYER_SIM when configuring the Windows build" >&2
    exit 1
fi
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "with_keyer_sim: WINEPREFIX ('${WINEPREFIX:-}') has no dosdevices folder; source" \
        "scripts/wine-env.sh and run pellmar_start_wine first" >&2
    exit 1
fi

# 9 is a short DOS name, 10 is reached through the device namespace only, and 17 is past
# the fixed device-namespace names.
com_ports=(9 10 17)
work="$(mktemp -d "${TMPDIR:-/tmp}/pellmar-keyer-sim.XXXXXX")" || exit 1
sim_pid=""
links=()

cleanup() {
    local link
    for link in "${links[@]}"; do
        rm -f "$link"
    done
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        # The emulator stops at once on SIGTERM; one that does not is killed, never left.
        for _ in $(seq 50); do
            kill -0 "$sim_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
        sim_pid=""
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

"$keyer_sim" --speedup 20 --control-port-file "$work/control-port" --pty-file "$work/pty" \
    >"$work/keyer_sim.log" 2>&1 &
sim_pid=$!

for _ in $(seq 100); do
    [ -s "$work/control-port" ] && [ -s "$work/pty" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        break
    fi
    sleep 0.05
done
if [ ! -s "$work/control-port" ] || [ ! -s "$work/pty" ]; then
    echo "with_keyer_sim: the keyer emulator did not start:" >&2
    cat "$work/keyer_sim.log" >&2
    exit 1
fi
pty="$(cat "$work/pty")"
control_port="$(cat "$work/control-port")"

for n in "${com_ports[@]}"; do
    link="$WINEPREFIX/dosdevices/com$n"
    links+=("$link")
    ln -sfn "$pty" "$link" || exit 1
done

export PELLMAR_KEYER_SIM_CONTROL_PORT="$control_port"
export PELLMAR_KEYER_SIM_COM_PORTS="${com_ports[*]}"
# Not exec: the trap must still remove the links and stop the emulator afterwards. The
# bound is below ctest's time-out, whose kill would leave no chance for the trap.
timeout -k 5 90 "$wine" "$@"
status=$?
exit $status
