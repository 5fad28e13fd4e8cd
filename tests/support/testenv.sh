#!/usr/bin/env bash
# Owns the Wine environment of one test run:
#   testenv.sh start ENV_DIR SOURCE_DIR PORT   prefix, Xvfb, wineserver, drive d:, stand-in
#   testenv.sh stop ENV_DIR                    stops what start started
# start writes ENV_DIR/env.sh, which wine-run.sh sources before it starts a test program.
set -euo pipefail

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
CA_DIR=/var/lib/kvshake-test
WEB_BROWSER_SERVER='HKLM\Software\Classes\CLSID\{8856F961-340A-11D0-A96B-00C04FD705A2}\InprocServer32'

winepath_of() { echo "Z:${1//\//\\}"; }  # a Unix path as Wine's drive Z: names it

# Polls COMMAND every 0.1 s, at most TENTHS times; false when it never succeeded.
poll() {  # poll TENTHS COMMAND [ARGS...]
    local i
    for i in $(seq "$1"); do
        "${@:2}" && return 0
        sleep 0.1
    done
    return 1
}

start_xvfb() {  # prints the display number of a fresh Xvfb, which picks a free one
    local display="$ENV_DIR/xvfb.display"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$display" >"$ENV_DIR/xvfb.log" 2>&1 &
    echo $! >"$ENV_DIR/xvfb.pid"
    poll 100 test -s "$display" || { echo "Xvfb did not start" >&2; return 1; }
    cat "$display"
}

start_standin() {
    python3 "$SOURCE_DIR/tests/service_standin/standin.py" --port "$PORT" \
        --control-port "$((PORT + 1))" --cert "$CA_DIR/server.crt" --key "$CA_DIR/server.key" \
        >"$RUN_DIR/standin.log" 2>&1 &
    echo $! >"$ENV_DIR/standin.pid"
    poll 100 grep -qx "standin ready" "$RUN_DIR/standin.log" ||
        { echo "the service stand-in did not start; see $RUN_DIR/standin.log" >&2; return 1; }
}

start() {
    stop 2>/dev/null || true
    RUN_DIR="$ENV_DIR/run-$(date +%Y%m%d-%H%M%S)-$$"
    mkdir -p "$RUN_DIR/d"
    export WINEPREFIX="$ENV_DIR/../wineprefix" WINEDEBUG=-all WINEARCH=win64
    # Never offer to download the .NET or HTML runtimes, and make no desktop menu entries.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export DISPLAY=":$(start_xvfb)"

    # The panel's tests register a double as the WebBrowser control while they run; Wine's own
    # registration, saved when the prefix is made, comes back here even after a killed case.
    local control="$WINEPREFIX/webbrowser-control.reg"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$WINE64" wineboot -i >"$RUN_DIR/wineboot.log" 2>&1 </dev/null
        "$WINE64" reg export "$WEB_BROWSER_SERVER" "$(winepath_of "$control")" /y \
            >/dev/null 2>&1 </dev/null
        "$WINESERVER" -w
    fi
    ln -sfn "$RUN_DIR/d" "$WINEPREFIX/dosdevices/d:"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE64" reg add 'HKCU\Software\AppDataLow' /f >/dev/null 2>&1 </dev/null
    "$WINE64" reg import "$(winepath_of "$control")" >/dev/null 2>&1 </dev/null
    start_standin

    cat >"$ENV_DIR/env.sh" <<ENV
export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all DISPLAY='$DISPLAY'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export KVSHAKE_STANDIN_CONTROL_PORT='$((PORT + 1))'
export KVSHAKE_RUN_DIR='$RUN_DIR'
ENV
    echo "test environment: display $DISPLAY, drive d: at $RUN_DIR/d"
}

stop() {
    if [ -f "$ENV_DIR/env.sh" ]; then
        # shellcheck disable=SC1091
        . "$ENV_DIR/env.sh"
        "$WINESERVER" -k 2>/dev/null || true
        "$WINESERVER" -w 2>/dev/null || true
        rm -f "$ENV_DIR/env.sh"
    fi
    local name
    for name in standin xvfb; do
        [ -f "$ENV_DIR/$name.pid" ] || continue
        end_process "$(cat "$ENV_DIR/$name.pid")"
        rm -f "$ENV_DIR/$name.pid"
    done
}

# Whether the process has gone (an exited one that its parent has not reaped yet has).
not_running() {  # not_running PID
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 0
    [ "$state" = Z ]
}

# Returns once the process has gone, so that the next start finds its port and display free.
end_process() {  # end_process PID
    kill "$1" 2>/dev/null || return 0
    poll 100 not_running "$1" && return 0
    kill -9 "$1" 2>/dev/null || true
    poll 100 not_running "$1" || echo "process $1 did not end" >&2
}

ACTION=$1
ENV_DIR=$(mkdir -p "$2" && cd "$2" && pwd)
case "$ACTION" in
    start) SOURCE_DIR=$3 PORT=$4 start ;;
    stop) stop ;;
    *) echo "usage: testenv.sh start|stop ENV_DIR [SOURCE_DIR PORT]" >&2; exit 2 ;;
esac
