# Sourced by the wine test scripts: a private Xvfb that never resets. With
# the default reset the server starts over whenever its last client (wine,
# xdotool) leaves, and a client that connects in that moment is refused.
#   start_private_display WIDTH HEIGHT FOLDER   sets DISPLAY, or returns 1
#   stop_private_display                        safe to call when none runs
private_xvfb=

start_private_display() {
    mkfifo "$3/display" || return 1
    # Xvfb picks a free display itself and names it once it accepts connections.
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$1x$2x24" \
        3>"$3/display" >/dev/null 2>&1 &
    private_xvfb=$!
    local number
    read -r -t 30 number <"$3/display" || return 1
    export DISPLAY=:$number
}

stop_private_display() {
    [ -n "$private_xvfb" ] || return 0
    kill "$private_xvfb" 2>/dev/null
    timeout 10 tail --pid="$private_xvfb" -f /dev/null
    private_xvfb=
}
