#!/usr/bin/env bash
# Runs a build tree's tests as an unprivileged user, so that faults that root
# never meets (permissions, exclusive ports, files it may not write) show.
# As root: makes the user (default tolvane-ci) once, lends it the build tree
# for the run and gives the tree back to its owner afterwards. As anyone else:
# runs ctest as that user already is. The user must be able to enter the
# clone: when a folder on the way is closed to it (a clone in root's home,
# mode 0700), this says which and where to clone instead, and ends with
# status 77 without running anything.
#
# Usage: scripts/ctest-unprivileged.sh BUILD_DIR [CTEST_ARGUMENTS...]
#        scripts/ctest-unprivileged.sh --reachable   (only that check)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
"" | -h | --help)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    [ -n "${1:-}" ] && exit 0
    exit 2
    ;;
esac
tree=$1
shift
if [ "$tree" != --reachable ] && ! [ -f "$tree/CTestTestfile.cmake" ]; then
    echo "ctest-unprivileged.sh: $tree holds no tests (configure and build it first)" >&2
    exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
    [ "$tree" = --reachable ] && exit 0
    exec ctest --test-dir "$tree" "$@"
fi

user=${TOLVANE_TEST_USER:-tolvane-ci}
id -u "$user" >/dev/null 2>&1 ||
    useradd --system --create-home --home-dir "/var/lib/$user" --shell /usr/sbin/nologin "$user"

# The first folder on the way to $1 (or $1 itself) that the user may not enter.
closed_folder() {
    local path="" part
    local -a parts
    IFS=/ read -r -a parts <<<"$1"
    for part in "${parts[@]}"; do
        [ -n "$part" ] || continue
        path=$path/$part
        runuser -u "$user" -- test -x "$path" || { echo "$path"; return 0; }
    done
}
# The tests read the sources and run the programs of the tree.
clone=$PWD
closed=$(closed_folder "$clone")
# (The tree itself is lent to the user below.)
[ -n "$closed" ] || [ "$tree" = --reachable ] ||
    closed=$(closed_folder "$(dirname "$(realpath "$tree")")")
if [ -n "$closed" ]; then
    cat >&2 <<MESSAGE
ctest-unprivileged.sh: the user $user cannot enter $closed (mode $(stat -c '%a, owner %U' "$closed")),
on the way to this clone ($clone), so it can run no test here and none
is run. Clone where every user may enter, and run the tests there:
  git clone $clone /srv/tolvane && cd /srv/tolvane && scripts/test.sh
(or any other folder outside the homes, which Debian closes to other users).
MESSAGE
    exit 77
fi
[ "$tree" = --reachable ] && exit 0

# The tests write beside their programs (scratch folders, screenshots); the
# sources they only read.
owner=$(stat -c %u:%g "$tree")
trap 'chown -R "$owner" "$tree"' EXIT
chown -R "$user:" "$tree"
runuser -u "$user" -- env HOME="/var/lib/$user" ctest --test-dir "$tree" "$@"
