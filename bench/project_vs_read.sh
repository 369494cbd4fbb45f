#!/usr/bin/env bash
# Times `korvane-lsm project --method max` against a sequential read of the same LSM file, both from a
# warm page cache, each the median of three runs: elapsed time, and processor time (user + system, all
# threads), which other work on a busy machine disturbs less.
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
# Prints "elapsed processor" in seconds.
timed() { sync; /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null; awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"; }
reads=$(for _ in 1 2 3; do timed dd if="$work/in.lsm" of=/dev/null bs=1M status=none; done)
projects=$(for _ in 1 2 3; do
    timed "$build/tools/korvane-lsm" project --method max "$work/in.lsm" "$work/out.ome.tif"; rm -f "$work/out.ome.tif"
done)
read_wall=$(cut -d' ' -f1 <<<"$reads" | median); read_cpu=$(cut -d' ' -f2 <<<"$reads" | median)
project_wall=$(cut -d' ' -f1 <<<"$projects" | median); project_cpu=$(cut -d' ' -f2 <<<"$projects" | median)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "file $(stat -c %s "$work/in.lsm") bytes; read ${read_wall} s (cpu ${read_cpu} s);" \
     "project ${project_wall} s (cpu ${project_cpu} s); ratio $(ratio "$project_wall" "$read_wall")" \
     "(cpu $(ratio "$project_cpu" "$read_cpu"))"
