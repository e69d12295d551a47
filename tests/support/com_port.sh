#!/usr/bin/env bash
# Makes a Unix terminal (a pseudo-terminal, or a link to one such as the
# simulator's --link path) appear as a COM port in a wine prefix.
#
# Usage: com_port.sh PREFIX COMn TARGET
#        com_port.sh PREFIX COMn --remove
#
# The dosdevices link is looked up at every CreateFile, so it works at once,
# even with a running wineserver.
set -eu
prefix=$1 port=$2 target=${3:-}
case "$port" in
COM[0-9]* | com[0-9]*) ;;
*)
    echo "com_port.sh: the port must be COMn, not $port" >&2
    exit 2
    ;;
esac
lower=$(echo "$port" | tr 'A-Z' 'a-z')
mkdir -p "$prefix/dosdevices"
if [ "$target" = --remove ]; then
    rm -f "$prefix/dosdevices/$lower"
    exit 0
fi
[ -n "$target" ] || {
    echo "usage: com_port.sh PREFIX COMn TARGET" >&2
    exit 2
}
ln -sfn "$target" "$prefix/dosdevices/$lower"
