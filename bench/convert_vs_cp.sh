#!/usr/bin/env bash
# Times `korvane-lsm convert` (uncompressed) against `cp` of the same LSM file, both warm, each the
# median of three runs with the page cache flushed to disk in between.
#   bench/convert_vs_cp.sh BUILD_DIR [X Y Z C T CODE]   (default 1024 1024 32 2 4 3: 512 MiB of uint16)
set -euo pipefail
build=$1; shift
dims=("${@:-1024 1024 32 2 4 3}")
work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-convert-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2068
"$build/tests/tools/korvane_write_test_stack" "$work/in.lsm" ${dims[@]}
cat "$work/in.lsm" >/dev/null

median() { sort -n | sed -n 2p; }
timed() { sync; local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f\n", e - s }'; }
cp_time=$(for _ in 1 2 3; do timed cp "$work/in.lsm" "$work/copy.lsm"; rm -f "$work/copy.lsm"; done | median)
convert_time=$(for _ in 1 2 3; do
    # A fresh name, as for cp: renaming over an existing file makes ext4 write the new one out at once.
    timed "$build/tools/korvane-lsm" convert "$work/in.lsm" "$work/out.ome.tif"; rm -f "$work/out.ome.tif"
done | median)
echo "file $(stat -c %s "$work/in.lsm") bytes; cp ${cp_time} s; convert ${convert_time} s;" \
     "ratio $(awk -v a="$convert_time" -v b="$cp_time" 'BEGIN { printf "%.2f", a / b }')"
