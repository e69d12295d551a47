# Sourced by the wine test scripts: a private Xvfb that never resets. With
# the default reset the server starts over whenever its last client (wine,
# xdotool) leaves, and a client that connects in that moment is refused.
#   start_private_display WIDTH HEIGHT FOLDER   sets DISPLAY, or returns 1
#   stop_private_display                        safe to call when none runs
#   wait_for_x_pointer X Y                      prints where the X pointer is;
#                                               returns 1 if not at X,Y in 10 s
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

# Wine moves the X pointer from its desktop process, after the program that
# asked has returned; a move left over from an earlier program of the same
# prefix can land after ours. The pointer settles where wine last put it.
wait_for_x_pointer() {
    local location tries=0
    while :; do
        location=$(xdotool getmouselocation)
        case "$location" in
        "x:$1 y:$2 "*) break ;;
        esac
        [ "$tries" -lt 100 ] || break
        tries=$((tries + 1))
        sleep 0.1
    done
    echo "X pointer: $location"
    case "$location" in "x:$1 y:$2 "*) return 0 ;; esac
    return 1
}
