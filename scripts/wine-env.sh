# Sourced by the scripts that run Windows programs: a private Wine prefix inside build/,
# no debug chatter, no offers to install Mono or Gecko, and a display (Xvfb when there is
# none).
pellmar_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="$pellmar_root/build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -x /usr/lib/wine/wine64 ]; then
    PELLMAR_WINE=/usr/lib/wine/wine64
else
    PELLMAR_WINE=wine
fi
if [ -x /usr/lib/wine/wineserver64 ]; then
    PELLMAR_WINESERVER=/usr/lib/wine/wineserver64
else
    PELLMAR_WINESERVER=wineserver
fi
export PELLMAR_WINE PELLMAR_WINESERVER

pellmar_xvfb_pid=""

# Starts Xvfb on a free display number when no display is set. Sets PELLMAR_HEADLESS=1
# when it did.
pellmar_start_display() {
    PELLMAR_HEADLESS=0
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
        n=$((n + 1))
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pellmar_xvfb_pid=$!
    export DISPLAY=":$n"
    PELLMAR_HEADLESS=1
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    echo "wine-env: Xvfb did not start on :$n" >&2
    return 1
}

pellmar_stop_display() {
    if [ -n "$pellmar_xvfb_pid" ]; then
        kill "$pellmar_xvfb_pid" 2>/dev/null || true
        wait "$pellmar_xvfb_pid" 2>/dev/null || true
        pellmar_xvfb_pid=""
    fi
}

# Creates the prefix on first use (this takes a while once) and keeps one wineserver
# running, so each test program starts in a fraction of a second.
pellmar_start_wine() {
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating the Wine prefix in $WINEPREFIX"
        "$PELLMAR_WINE" wineboot.exe -i >/dev/null 2>&1 || true
        "$PELLMAR_WINESERVER" -w
    fi
    # Its output goes to a file: the server takes the first pty it opens for a COM port
    # as its terminal, and when an emulator closes that pty the hang-up makes it print a
    # dump of its objects, which would otherwise flood the test output.
    "$PELLMAR_WINESERVER" -p >>"$pellmar_root/build/wineserver.log" 2>&1
    # The first program of a session starts Wine's background services, which inherit its
    # output handles. Start them here with no output, or every later caller that reads a
    # program's output (ctest's test discovery among them) waits for them to end.
    "$PELLMAR_WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    pellmar_dress_windows
}

# On Xvfb no window manager draws a window's caption and frame, so screenshots would show
# bare client areas over stale screen. Wine draws them itself when told that nobody
# decorates its windows; its caption buttons need its Marlett font, which this Wine does not
# find in its own data folder, so the prefix gets a copy. On a real desktop the window
# manager's own frames stay. Checked in the prefix's files first: a reg call costs half a
# second.
pellmar_dress_windows() {
    local key='HKCU\Software\Wine\X11 Driver'
    local set=0
    grep -q '^"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null && set=1
    if [ "${PELLMAR_HEADLESS:-0}" = 1 ] && [ "$set" = 0 ]; then
        "$PELLMAR_WINE" reg add "$key" /v Decorated /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 || true
    elif [ "${PELLMAR_HEADLESS:-0}" != 1 ] && [ "$set" = 1 ]; then
        "$PELLMAR_WINE" reg delete "$key" /v Decorated /f </dev/null >/dev/null 2>&1 || true
    fi
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    local marlett
    for marlett in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
        if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
            cp "$marlett" "$fonts/" || true
            break
        fi
    done
}

# The process id of this prefix's Wine server, or nothing when none runs: it works in a
# folder named after the prefix's device and inode.
pellmar_wineserver_pid() {
    local wanted p
    wanted="$(stat -c 'server-%d-%i' "$WINEPREFIX" 2>/dev/null | awk -F- '{printf "server-%x-%x", $2, $3}')"
    [ -n "$wanted" ] || return 0
    for p in /proc/[0-9]*; do
        if [[ "$(readlink "$p/cwd" 2>/dev/null)" == */"$wanted" ]] &&
            tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -q wineserver; then
            basename "$p"
            return 0
        fi
    done
}

pellmar_stop_wine() {
    "$PELLMAR_WINESERVER" -k 2>/dev/null || true
}
