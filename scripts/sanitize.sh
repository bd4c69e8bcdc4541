#!/usr/bin/env bash
# Runs the test suite under the sanitizers.
#
#   scripts/sanitize.sh           AddressSanitizer + UndefinedBehaviorSanitizer
#                                 (with LeakSanitizer) on the whole suite, in build-asan
#   scripts/sanitize.sh thread    ThreadSanitizer on the tests labelled
#                                 "concurrency", in build-tsan
#
# Any sanitizer report stops the process that made it, so it fails its test.
# SANITIZE_GUI=ON also builds and runs the window's tests under ASan (slow).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-address}
jobs=${JOBS:-$(nproc)}
source_dir=${QUORVEX_CMAKE_SOURCE:-$root}

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

configure() {
  local build=$1 sanitizers=$2 gui=$3
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEX_SANITIZE="$sanitizers" -DQUORVEX_BUILD_GUI="$gui" -DQUORVEX_BUILD_BENCH=OFF >/dev/null
}

case "$mode" in
  address)
    build=${SANITIZE_BUILD:-$root/build-asan}
    # GCC leaves float-to-integer overflow out of "undefined"; clang has it.
    configure "$build" address,undefined,float-cast-overflow "${SANITIZE_GUI:-OFF}"
    cmake --build "$build" -j "$jobs"
    cd "$build"
    ctest --output-on-failure -j "$jobs"
    ;;
  thread)
    build=${SANITIZE_BUILD:-$root/build-tsan}
    configure "$build" thread OFF
    # Only the executables that hold concurrency tests: the rest would take
    # long to build and is not run here.
    read -r -a targets <<<"${TSAN_TARGETS:-concurrency_test damage_report_test}"
    cmake --build "$build" -j "$jobs" --target "${targets[@]}"
    cd "$build"
    ctest --output-on-failure -j "$jobs" -L concurrency
    ;;
  *)
    echo "usage: $0 [address|thread]" >&2
    exit 2
    ;;
esac
