#!/usr/bin/env bash
# The Debian package as an administrator gets it: cpack makes it from the build tree, lintian
# finds no error in it, its fields and files are where Debian and the desktop look, and the
# programs unpacked into a scratch root (no system install) run from there.
# usage: package_test.sh BUILD_DIR VERSION SOURCE_DIR
set -uo pipefail
build=$1 version=$2 source=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" > "$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    fail "cpack -G DEB failed"
    exit 1
fi
arch=$(dpkg --print-architecture)
deb=$tmp/out/qvscan_${version}_${arch}.deb
[ -f "$deb" ] || { fail "no $(basename "$deb"); cpack made: $(ls "$tmp/out")"; exit 1; }

# --- Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" == qvscan ] || fail "Package is \"$(field Package)\""
[ "$(field Version)" == "$version" ] || fail "Version is \"$(field Version)\", expected $version"
[ "$(field Architecture)" == "$arch" ] || fail "Architecture is \"$(field Architecture)\""
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer \"$(field Maintainer)\" is not \"Name <address>\""
[ -n "$(field Section)" ] || fail "no Section"
depends=$(field Depends)
for library in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6; do
    [[ $depends =~ (^|, )$library\ \(\>=\ [0-9] ]] || fail "Depends lacks a versioned $library (dpkg-shlibdeps): $depends"
done
[[ ${depends,,} == *gpib* || ${depends,,} == *visa* ]] && fail "Depends names a run-time-loaded library: $depends"
suggests=$(field Suggests)
[[ $suggests == *gpib* && ${suggests,,} == *visa* ]] || fail "Suggests does not name linux-gpib and a VISA library: $suggests"
description=$(field Description)
[ "$(wc -l <<< "$description")" -ge 3 ] || fail "Description has no extended part"
long=$(awk 'NR > 1 && length($0) > 80' <<< "$description")
[ -z "$long" ] || fail "Description lines longer than 80 columns: $long"

# --- lintian: no errors; warnings and the rest are shown.
lintian_output=$(lintian --fail-on error "$deb" 2>&1)
status=$?
[ -n "$lintian_output" ] && echo "lintian: $lintian_output"
[ $status -eq 0 ] || fail "lintian reports errors"

# --- Files, unpacked.
root=$tmp/root
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x failed"; exit 1; }
completions=$(pkg-config --define-variable=prefix=/usr --variable=completionsdir bash-completion 2> /dev/null)
completions=${completions:-/usr/share/bash-completion/completions}
for file in usr/bin/qvscan usr/bin/qvscan-sim \
    usr/share/man/man1/qvscan.1.gz usr/share/man/man1/qvscan-sim.1.gz \
    usr/share/applications/io.github.qvscan.QVScan.desktop \
    usr/share/metainfo/io.github.qvscan.QVScan.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/io.github.qvscan.QVScan.svg \
    usr/share/icons/hicolor/48x48/apps/io.github.qvscan.QVScan.png \
    usr/share/icons/hicolor/256x256/apps/io.github.qvscan.QVScan.png \
    "${completions#/}/qvscan" "${completions#/}/qvscan-sim" \
    usr/share/doc/qvscan/copyright usr/share/doc/qvscan/changelog.gz; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
for size in 48 256; do
    png=$root/usr/share/icons/hicolor/${size}x$size/apps/io.github.qvscan.QVScan.png
    [ -f "$png" ] && ! file "$png" | grep -q "PNG image data, $size x $size," && fail "$png is not a $size px PNG: $(file -b "$png")"
done
grep -q "^ Permission is hereby granted" "$root/usr/share/doc/qvscan/copyright" ||
    fail "copyright does not hold the licence of LICENSE"
grep -q "^Copyright: $(sed -n 's/^Copyright (c) //p' "$source/LICENSE")$" "$root/usr/share/doc/qvscan/copyright" ||
    fail "copyright does not carry the notice of LICENSE"
[ "$(gzip -dc "$root/usr/share/doc/qvscan/changelog.gz" | head -n 1)" == "qvscan ($version) unstable; urgency=medium" ] ||
    fail "changelog does not start with version $version"
for program in qvscan qvscan-sim; do
    paths=$(readelf -d "$root/usr/bin/$program" | grep -E 'RPATH|RUNPATH')
    [ -z "$paths" ] || fail "/usr/bin/$program carries $paths"
done

# --- The unpacked programs, with nothing of the build tree around them.
run() { env -i PATH=/usr/bin:/bin HOME="$tmp" XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen "$@"; }
[ "$(run "$root/usr/bin/qvscan" --version)" == "qvscan $version" ] || fail "unpacked qvscan --version: $(run "$root/usr/bin/qvscan" --version 2>&1)"
[ "$(run "$root/usr/bin/qvscan-sim" --version)" == "qvscan-sim $version" ] || fail "unpacked qvscan-sim --version: $(run "$root/usr/bin/qvscan-sim" --version 2>&1)"
run "$root/usr/bin/qvscan" --simulate --batch > "$tmp/readings" 2> "$tmp/messages"
status=$?
[ $status -eq 0 ] || fail "unpacked qvscan --simulate --batch exits $status: $(cat "$tmp/messages")"
channels=$(awk -F '\t' '$1 ~ /^ [0-9]+$/ && NF >= 4 { print $2 }' "$tmp/readings" | tr '\n' ' ')
expected=$( (seq 101 120; seq 101 120) | tr '\n' ' ')
[ "$channels" == "$expected" ] || fail "unpacked batch run listed channels [$channels], expected two passes of 101 to 120"

[ "$failures" -eq 0 ] && echo "$(basename "$deb"): lintian without errors, fields and files in place, unpacked programs run"
exit $((failures > 0))
