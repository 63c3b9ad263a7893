#!/usr/bin/env bash
# Runs one Windows test program under Wine against fresh keyer emulators, one per entry of
# the COM port list: emulator i's device appears in the Wine prefix as the COM ports of the
# i-th entry, and the program finds it in the environment as
#   PELLMAR_KEYER_SIM_<i>_COM_PORT      the first COM port number it is linked as
#   PELLMAR_KEYER_SIM_<i>_COM_PORTS     all of them, separated by blanks
#   PELLMAR_KEYER_SIM_<i>_CONTROL_PORT  its control port on 127.0.0.1
#   PELLMAR_KEYER_SIM_<i>_DEVICE        its device, for a Linux program (the native site): a
#                                       link to its pty, turned to the new one when it is
#                                       plugged back
# with i counted from 0. PELLMAR_SITE, the native site's program, reaches it from the
# caller's environment as it is (tests/wine/CMakeLists.txt sets it for each case). A fresh
# emulator per run keeps one test case's bytes out of the next one's log. Every emulator and
# link is removed again however the program ends.
#
#   with_keyer_sims.sh KEYER_SIM WINE COM_PORTS PROGRAM [ARGUMENTS...]
#
# COM_PORTS is a comma-separated list of entries, each one COM port or several joined by
# "+": "5,6" is two emulators, "9+10+17" one emulator behind three names. Needs WINEPREFIX (scripts/wine-env.sh
# sets it). Listing the tests needs no emulator. The emulators key 20 times faster than real
# Morse unless PELLMAR_KEYER_SIM_SPEEDUP says otherwise (the benchmarks make keying negligible).
set -u

keyer_sim="${1:-}"
wine="${2:-}"
com_list="${3:-}"
if [ $# -lt 4 ]; then
    echo "usage: with_keyer_sims.sh KEYER_SIM WINE COM_PORTS PROGRAM [ARGUMENTS...]" >&2
    exit 2
fi
shift 3

if [ -z "$wine" ] || ! command -v "$wine" >/dev/null 2>&1; then
    echo "with_keyer_sims: no Wine program ('$wine'); install wine64 and reconfigure" >&2
    exit 1
fi
for argument in "$@"; do
    if [ "$argument" = "--gtest_list_tests" ]; then
        exec "$wine" "$@"
    fi
done

IFS=',' read -r -a com_ports <<<"$com_list"
if [ ${#com_ports[@]} -eq 0 ]; then
    echo "with_keyer_sims: no COM ports given" >&2
    exit 2
fi
for entry in "${com_ports[@]}"; do
    if ! [[ "$entry" =~ ^[1-9][0-9]*(\+[1-9][0-9]*)*$ ]]; then
        echo "with_keyer_sims: '$entry' is not a COM port number or numbers joined by +" >&2
        exit 2
    fi
done
if [ ! -x "$keyer_sim" ]; then
    echo "with_keyer_sims: the keyer emulator '$keyer_sim' is missing; build the host preset" \
        "first (cmake --preset host && cmake --build --preset host) or set" \
        "PELLMAR_KEYER_SIM when configuring the Windows build" >&2
    exit 1
fi
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "with_keyer_sims: WINEPREFIX ('${WINEPREFIX:-}') has no dosdevices folder; source" \
        "scripts/wine-env.sh and run pellmar_start_wine first" >&2
    exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/pellmar-keyer-sims.XXXXXX")" || exit 1
sim_pids=()
links=()

cleanup() {
    local link pid
    for link in "${links[@]}"; do
        rm -f "$link"
    done
    for pid in "${sim_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    # An emulator stops at once on SIGTERM; one that does not is killed, never left.
    for pid in "${sim_pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    sim_pids=()
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

for i in "${!com_ports[@]}"; do
    "$keyer_sim" --speedup "${PELLMAR_KEYER_SIM_SPEEDUP:-20}" --control-port-file "$work/control-port-$i" \
        --link "$work/keyer-$i" \
        --pty-file "$work/pty-$i" >"$work/keyer_sim-$i.log" 2>&1 &
    sim_pids+=($!)
done

for i in "${!com_ports[@]}"; do
    for _ in $(seq 100); do
        [ -s "$work/control-port-$i" ] && [ -s "$work/pty-$i" ] && break
        kill -0 "${sim_pids[$i]}" 2>/dev/null || break
        sleep 0.05
    done
    if [ ! -s "$work/control-port-$i" ] || [ ! -s "$work/pty-$i" ]; then
        echo "with_keyer_sims: keyer emulator $i did not start:" >&2
        cat "$work/keyer_sim-$i.log" >&2
        exit 1
    fi
    IFS='+' read -r -a names <<<"${com_ports[$i]}"
    for n in "${names[@]}"; do
        link="$WINEPREFIX/dosdevices/com$n"
        links+=("$link")
        ln -sfn "$(cat "$work/pty-$i")" "$link" || exit 1
    done
    export "PELLMAR_KEYER_SIM_${i}_COM_PORT=${names[0]}"
    export "PELLMAR_KEYER_SIM_${i}_COM_PORTS=${names[*]}"
    export "PELLMAR_KEYER_SIM_${i}_CONTROL_PORT=$(cat "$work/control-port-$i")"
    export "PELLMAR_KEYER_SIM_${i}_DEVICE=$(cat "$work/pty-$i")"
done

# Not exec: the trap must still remove the links and stop the emulators afterwards. The
# bound is below ctest's time-out, whose kill would leave no chance for the trap; a caller
# outside ctest (the soak) sets its own in PELLMAR_KEYER_SIMS_TIMEOUT, in seconds.
timeout -k 5 "${PELLMAR_KEYER_SIMS_TIMEOUT:-150}" "$wine" "$@"
status=$?
exit $status
