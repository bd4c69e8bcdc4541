#!/usr/bin/env bash
# Fuzzes a whole conversion with libFuzzer (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) for FUZZ_SECONDS seconds in total.
#
#   scripts/fuzz.sh                      300 s
#   FUZZ_SECONDS=60 scripts/fuzz.sh      the CI smoke run
#   scripts/fuzz.sh CRASH_FILE...        replays saved inputs once (triage)
#
# The run starts from the sample files the fixture builder writes (seeds) and
# from fuzz/corpus/, where it keeps the inputs that reached new code, so runs
# build on each other. An input that crashes, hangs (over 10 s) or runs out of
# memory (over 2 GiB) is saved in fuzz/crashes/ and the run resumes for the
# time left. Exits 1 when this run found anything.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-300}
max_len=${FUZZ_MAX_LEN:-65536}
corpus=$root/fuzz/corpus
crashes=$root/fuzz/crashes
seeds=$build/fuzz-seeds
log_dir=$build/fuzz-logs/$(date +%Y%m%d-%H%M%S)

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "${QUORVEX_CMAKE_SOURCE:-$root}" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_FUZZ=ON \
  -DQUORVEX_SANITIZE=address,undefined -DQUORVEX_BUILD_GUI=OFF -DQUORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target quorvex-fuzz-convert quorvex-fuzz-seeds
fuzzer=$build/bin/quorvex-fuzz-convert

if [[ $# -gt 0 ]]; then
  exec "$fuzzer" -rss_limit_mb=2048 -timeout=10 "$@"
fi

mkdir -p "$corpus" "$crashes" "$log_dir"
rm -rf "$seeds"
"$build/bin/quorvex-fuzz-seeds" "$seeds"

known_crashes=$(find "$crashes" -type f | sort)

# Inputs saved as crashes, hangs or slow units only replay a known problem:
# they stay in fuzz/crashes/ and leave the corpus, or every run would stop on
# them right at its start.
drop_saved_from_corpus() {
  local saved
  for saved in "$crashes"/*; do
    [[ -e $saved ]] && rm -f "$corpus/${saved##*-}"
  done
  return 0
}

# libFuzzer stops at the first crash, hang or memory excess; the loop saves
# it and goes on for the time left.
deadline=$((SECONDS + seconds))
executions=0
runs=0
last_status=""
while ((SECONDS < deadline)); do
  drop_saved_from_corpus
  left=$((deadline - SECONDS))
  ((left > 0)) || break  # 0 would mean "no limit" to libFuzzer
  runs=$((runs + 1))
  log=$log_dir/run-$runs.log
  set +e
  "$fuzzer" "$corpus" "$seeds" -max_total_time="$left" -max_len="$max_len" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1
  status=$?
  set -e
  done_here=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [[ -z $done_here ]]; then
    # Stopped by a finding: the last status line counts the runs so far.
    done_here=$(grep -E '^#[0-9]+' "$log" | tail -1 | sed -E 's/^#([0-9]+).*/\1/')
  fi
  executions=$((executions + ${done_here:-0}))
  line=$(grep -E '^#[0-9]+.* cov: ' "$log" | tail -1 || true)
  [[ -n $line ]] && last_status=$line
  if [[ $status -ne 0 ]]; then
    echo "fuzz: run $runs stopped (exit $status), log $log:"
    grep -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|invariant broken' "$log" | head -3 || true
    # Nothing ran at all (no status line): a retry would fail the same way.
    [[ -z $line ]] && break
  fi
done
drop_saved_from_corpus
cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last_status")
ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last_status")

# With UBSAN_OPTIONS=halt_on_error=0 undefined behaviour is reported without
# stopping the run: list each place once.
places=$(grep -h 'runtime error' "$log_dir"/run-*.log 2>/dev/null | sed -E 's/: runtime error.*//' | sort | uniq -c || true)
if [[ -n $places ]]; then
  echo "fuzz: undefined behaviour reported at:"
  echo "$places"
fi

new_crashes=$(comm -13 <(echo "$known_crashes") <(find "$crashes" -type f | sort) | sed '/^$/d')
corpus_size=$(find "$corpus" -type f | wc -l)
echo "fuzz: ${seconds} s, ${runs} run(s), ${executions} executions, cov: ${cov:-?} ft: ${ft:-?}, corpus ${corpus_size} files"
echo "fuzz: last status: ${last_status:-none}"
if [[ -n $new_crashes ]]; then
  echo "fuzz: new crashing inputs:"
  echo "$new_crashes"
  exit 1
fi
echo "fuzz: no new crashes"
