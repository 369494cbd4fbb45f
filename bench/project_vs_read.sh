#!/usr/bin/env bash
# Times `korvane-lsm project --method max` against a sequential read of the same LSM file, both from a
# warm page cache, each the median of three runs.
#   bench/project_vs_read.sh BUILD_DIR [X Y Z C T CODE]   (default 2048 2048 32 2 1 3: 512 MiB of uint16)
set -euo pipefail
build=$1; shift
dims=("${@:-2048 2048 32 2 1 3}")
work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-project-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2068
"$build/tests/tools/korvane_write_test_stack" "$work/in.lsm" ${dims[@]}
cat "$work/in.lsm" >/dev/null

median() { sort -n | sed -n 2p; }
timed() { sync; local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f\n", e - s }'; }
read_time=$(for _ in 1 2 3; do timed dd if="$work/in.lsm" of=/dev/null bs=1M status=none; done | median)
project_time=$(for _ in 1 2 3; do
    timed "$build/tools/korvane-lsm" project --method max "$work/in.lsm" "$work/out.ome.tif"; rm -f "$work/out.ome.tif"
done | median)
echo "file $(stat -c %s "$work/in.lsm") bytes; read ${read_time} s; project ${project_time} s;" \
     "ratio $(awk -v a="$project_time" -v b="$read_time" 'BEGIN { printf "%.2f", a / b }')"
