#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the consumer program against it and runs it.
# Arguments: <build dir> <work dir> <sample writer> <expected output line>
set -euo pipefail
build="$1"; work="$2"; writer="$3"; expected="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
rm -rf "$work"
mkdir -p "$work"
lsm="$work/sample.lsm"
"$writer" "$lsm"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
out="$("$work/consumer/consumer" "$lsm")"
echo "$out"
[ "$out" = "$expected" ] || { echo "expected: $expected"; exit 1; }
test -f "$work/prefix/include/korvane/BlitzBioReader.h"
test -f "$work/prefix/include/korvane/Reporter.h"
test -f "$work/prefix/include/korvane/ZProjector.h"
# The command-line tool runs from the prefix on the same file.
"$work/prefix/bin/korvane-lsm" info --json "$lsm" | grep -q '"sizeX": 5'
