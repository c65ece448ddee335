#!/usr/bin/env bash
# The AppStream metadata: valid for appstreamcli (without the network), its newest release the
# program's version, and its launchable the desktop entry that is installed.
# usage: metainfo_test.sh METAINFO QVSCAN DESKTOP_ENTRY
set -uo pipefail
metainfo=$1 qvscan=$2 desktop=$3
failures=0
fail() { echo "FAIL: $metainfo: $*"; failures=$((failures + 1)); }

appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate --no-net fails"

version=$("$qvscan" --version) || fail "$qvscan --version failed"
version=${version##* }
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
[ "$release" == "$version" ] || fail "newest release is \"$release\", the program says \"$version\""

launchable=$(sed -n 's/.*<launchable type="desktop-id">\([^<]*\)<.*/\1/p' "$metainfo")
[ "$launchable" == "$(basename "$desktop")" ] || fail "launchable \"$launchable\" is not $(basename "$desktop")"
[ -f "$desktop" ] || fail "no desktop entry $desktop"

exit $((failures > 0))
