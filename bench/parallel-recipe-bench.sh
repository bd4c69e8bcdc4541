#!/usr/bin/env bash
# parallel-recipe-bench.sh [BUILD_DIR] - what the GNU parallel recipe
# (docs/scaling/parallel-shared.sh) costs over quorvex-tiff2pdf -j alone on
# one machine: 1,000 small one-page files, both on every processor, median
# wall seconds of RUNS runs each (interleaved). The recipe's cost is
# parallel's start-up and one converter start per shard; over SSH hosts the
# network adds to it.
#
# Environment: RUNS=3, FILES_COUNT=1000, SHARD=200 (names per recipe run).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$(cd "${1:-"$repo/build"}" && pwd)
RUNS=${RUNS:-3}
FILES_COUNT=${FILES_COUNT:-1000}
export SHARD=${SHARD:-200}
cpus=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$build/bin:$PATH"
export LC_ALL=C

# One small bilevel page, copied: the recipe's overhead is per file and per
# shard, not per pixel.
"$build/bin/quorvex-make-samples" "$work/samples" >/dev/null
mkdir -p "$work/in"
for ((i = 0; i < FILES_COUNT; i++)); do
  cp "$work/samples/bilevel-mono.tif" "$work/in/scan$i.tif"
done
find "$work/in" -name '*.tif' -print0 >"$work/all.list0"

seconds_of() { # seconds_of COMMAND... -> wall seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[++n] = $1 } END { print (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'; }

alone=""
recipe=""
for ((run = 0; run < RUNS; run++)); do
  rm -rf "$work/out-j" "$work/out-p" "$work/reports"
  alone+=" $(seconds_of quorvex-tiff2pdf -q -j "$cpus" -0 --files-from "$work/all.list0" -d "$work/out-j")"
  recipe+=" $(QUORVEX_OPTIONS="-d $work/out-p" seconds_of "$repo/docs/scaling/parallel-shared.sh" \
    "$work/all.list0" "$work/reports" -S "$cpus/:")"
done
converted=$(find "$work/out-p" -name '*.pdf' | wc -l)
[[ $converted -eq $FILES_COUNT ]] || { echo "recipe wrote $converted of $FILES_COUNT PDFs" >&2; exit 1; }

a=$(median <<<"$alone")
p=$(median <<<"$recipe")
echo "== GNU parallel recipe: $FILES_COUNT small files on $cpus CPUs, $RUNS runs, medians"
printf '  -j %s alone %8.3f s\n' "$cpus" "$a"
printf '  recipe, %s local slots, shards of %s %8.3f s  (%.2fx, +%.1f ms a file)\n' "$cpus" "$SHARD" "$p" \
  "$(awk -v p="$p" -v a="$a" 'BEGIN { print p / a }')" \
  "$(awk -v p="$p" -v a="$a" -v n="$FILES_COUNT" 'BEGIN { print (p - a) * 1000 / n }')"
