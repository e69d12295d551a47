#!/usr/bin/env bash
# Runs a build tree's tests as an unprivileged user, so that faults that root
# never meets (permissions, exclusive ports, files it may not write) show.
# As root: makes the user (default tolvane-ci) once, lends it the build tree
# for the run and gives the tree back to its owner afterwards. As anyone else:
# runs ctest as that user already is.
#
# Usage: scripts/ctest-unprivileged.sh BUILD_DIR [CTEST_ARGUMENTS...]
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
"" | -h | --help)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    [ -n "${1:-}" ] && exit 0
    exit 2
    ;;
esac
tree=$1
shift
[ -f "$tree/CTestTestfile.cmake" ] || {
    echo "ctest-unprivileged.sh: $tree holds no tests (configure and build it first)" >&2
    exit 1
}
if [ "$(id -u)" -ne 0 ]; then
    exec ctest --test-dir "$tree" "$@"
fi

user=${TOLVANE_TEST_USER:-tolvane-ci}
id -u "$user" >/dev/null 2>&1 ||
    useradd --system --create-home --home-dir "/var/lib/$user" --shell /usr/sbin/nologin "$user"
# The tests write beside their programs (scratch folders, screenshots); the
# sources they only read.
owner=$(stat -c %u:%g "$tree")
trap 'chown -R "$owner" "$tree"' EXIT
chown -R "$user:" "$tree"
runuser -u "$user" -- env HOME="/var/lib/$user" ctest --test-dir "$tree" "$@"
