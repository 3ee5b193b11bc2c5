# Shared Wine set-up for the test, demo and benchmark scripts (sourced, not run).
#
# wine_up DIR   : makes a prefix under DIR (or reuses one there), a code page 936 locale, an X
#                 display (own Xvfb unless DISPLAY is set) and a persistent
#                 wineserver, then exports what wine needs.
# wine_down     : stops the wineserver and the Xvfb that wine_up started.

wine_up() {
    local dir=$1
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)

    # Wine takes its ANSI code page from the locale name and the encoding of
    # Unix file names from the C library: a real zh_CN UTF-8 locale gives both
    # code page 936 and intact non-ASCII paths.
    if [ ! -d "$dir/locale/zh_CN.UTF-8" ]; then
        mkdir -p "$dir/locale"
        localedef -i zh_CN -f UTF-8 "$dir/locale/zh_CN.UTF-8" 2>/dev/null ||
            { echo "wine_up: localedef zh_CN.UTF-8 failed" >&2; return 1; }
    fi
    export LOCPATH="$dir/locale"
    # bash itself cannot load the private locale and would warn; Wine can.
    { export LC_ALL=zh_CN.UTF-8; } 2>/dev/null
    export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64

    WINE_UP_XVFB_PID=
    if [ -z "${DISPLAY:-}" ]; then
        local n
        for n in $(seq 90 140); do
            [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
            WINE_UP_XVFB_PID=$!
            export DISPLAY=":$n"
            local i
            for i in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
            break
        done
        [ -n "$WINE_UP_XVFB_PID" ] || { echo "wine_up: no free X display" >&2; return 1; }
    fi

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wine wineboot -i </dev/null >/dev/null 2>&1
        wineserver -w </dev/null >/dev/null 2>&1
    fi
    # A persistent server, with every stream detached so that Wine's own
    # service processes never hold a pipe of the caller open.
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot -u </dev/null >/dev/null 2>&1
}

wine_down() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1
    if [ -n "${WINE_UP_XVFB_PID:-}" ]; then
        kill "$WINE_UP_XVFB_PID" 2>/dev/null
        wait "$WINE_UP_XVFB_PID" 2>/dev/null
        WINE_UP_XVFB_PID=
        unset DISPLAY
    fi
    return 0
}
