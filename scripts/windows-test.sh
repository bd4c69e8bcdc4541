#!/usr/bin/env bash
# The Windows build's test run under Wine (headless, private WINEPREFIX):
#   1. the platform seam's Windows tests (platform_windows_test.exe), then the
#      engine's own tests and the fixture builder's (every other *_test.exe),
#      JOBS of them at a time (default 2);
#   2. every sample TIFF converted by the .exe and by the Linux build, with
#      the creation date fixed: the PDFs must be equal byte for byte;
#   3. the command line driven from here: names with spaces and outside
#      ASCII, a read-only output, NUL as output, pipes, merge, a tree.
#   scripts/windows-test.sh [WINDOWS_BUILD [LINUX_BUILD]]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
windows_build=$(realpath "${1:-build-windows}")
linux_build=$(realpath "${2:-build}")
exe=$windows_build/bin/quorvex-tiff2pdf.exe
linux=$linux_build/bin/quorvex-tiff2pdf
samples_tool=$linux_build/bin/quorvex-make-samples
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)

export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Local time enters the PDF's dates: the same zone for both builds.
export TZ=UTC
# Wine turns Unix names and arguments into UTF-16 by the locale's charset.
export LC_ALL=C.UTF-8
date_option=(--creation-date 2024-05-01T12:00:00)

failures=0
pass() { echo "  ok    $1"; }
fail() {
  echo "  FAIL  $1"
  failures=$((failures + 1))
}

for needed in "$exe" "$windows_build/bin/platform_windows_test.exe" "$linux" "$samples_tool"; do
  if [[ ! -x $needed ]]; then
    echo "windows-test: $needed is missing (make windows; make build)" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

# The first program Wine runs boots the prefix; the tests after it share it.
echo "windows-test: the platform seam"
"$wine" "$windows_build/bin/platform_windows_test.exe" --gtest_brief=1 || failures=$((failures + 1))

echo "windows-test: the engine's tests"
mkdir -p "$work/logs"
jobs=${JOBS:-2}
running=0
for test_exe in "$windows_build"/bin/*_test.exe; do
  name=$(basename "$test_exe" .exe)
  [[ $name == platform_windows_test ]] && continue
  if [[ $running -ge $jobs ]]; then
    wait -n || true
    running=$((running - 1))
  fi
  ("$wine" "$test_exe" --gtest_brief=1 >"$work/logs/$name.log" 2>&1 && touch "$work/logs/$name.ok") &
  running=$((running + 1))
done
wait
for log in "$work"/logs/*.log; do
  name=$(basename "$log" .log)
  if [[ -f $work/logs/$name.ok ]]; then
    pass "$name: $(grep -o '[0-9]* tests\? from' "$log" | head -n 1 | cut -d' ' -f1) cases"
  else
    grep -v '^Running main' "$log" || true
    fail "$name"
  fi
done

echo "windows-test: the same bytes as the Linux build"
mkdir -p "$work/samples" "$work/linux" "$work/windows"
"$samples_tool" "$work/samples" >/dev/null
cd "$work"
for tif in samples/*.tif; do
  name=$(basename "$tif" .tif)
  "$linux" -q "${date_option[@]}" -o "linux/$name.pdf" "$tif"
  "$wine" "$exe" -q "${date_option[@]}" -o "windows/$name.pdf" "$tif"
  if cmp -s "linux/$name.pdf" "windows/$name.pdf"; then pass "$name"; else fail "$name differs"; fi
done

echo "windows-test: the command line"
run() { "$wine" "$exe" -q "${date_option[@]}" "$@"; }

mkdir -p "in dir" "out dir"
cp samples/scan-gray-deflate.tif "in dir/Grüße 日本.tif"
# The title comes from the name: the Linux build converts the same name.
"$linux" -q "${date_option[@]}" -o "linux/Grüße 日本.pdf" "in dir/Grüße 日本.tif"
if run -o "out dir/Grüße 日本.pdf" "in dir/Grüße 日本.tif" &&
  cmp -s "out dir/Grüße 日本.pdf" "linux/Grüße 日本.pdf"; then
  pass "spaces and non-ASCII names"
else
  fail "spaces and non-ASCII names"
fi

cp samples/palette-8bit.tif "upper.TIF"
if run upper.TIF && [[ -f upper.pdf ]]; then pass "X.TIF writes X.pdf"; else fail "X.TIF writes X.pdf"; fi

if run -o NUL samples/palette-8bit.tif && [[ ! -e NUL && ! -e NUL.pdf ]]; then
  pass "NUL as output"
else
  fail "NUL as output"
fi

echo "keep" >locked.pdf
chmod 444 locked.pdf
if ! run -o locked.pdf samples/palette-8bit.tif 2>/dev/null && [[ $(cat locked.pdf) == keep ]]; then
  pass "a read-only output file is left as it is"
else
  fail "a read-only output file is left as it is"
fi

mkdir -p locked-dir
chmod 555 locked-dir
if [[ $(id -u) -eq 0 ]]; then
  echo "  skip  read-only output folder (root writes into any folder)"
elif ! run -o locked-dir/out.pdf samples/palette-8bit.tif 2>/dev/null &&
  [[ -z $(ls -A locked-dir) ]]; then
  pass "a read-only output folder gets nothing"
else
  fail "a read-only output folder gets nothing"
fi

if "$wine" "$exe" -q "${date_option[@]}" - -o - <samples/palette-8bit.tif >piped.pdf &&
  cmp -s piped.pdf <("$linux" -q "${date_option[@]}" - -o - <samples/palette-8bit.tif); then
  pass "standard input to standard output, bytes unchanged"
else
  fail "standard input to standard output, bytes unchanged"
fi

set -- samples/fax-3page-g4.tif samples/palette-8bit.tif samples/bilevel-mono.tif
# The same output name: a merged PDF's title is taken from it.
mkdir -p merged
"$linux" -q "${date_option[@]}" -m -o merged/book.pdf "$@"
if run -m -o book.pdf "$@" && cmp -s book.pdf merged/book.pdf; then
  pass "merge"
else
  fail "merge"
fi

mkdir -p tree/a/b
cp samples/palette-8bit.tif tree/a/b/deep.tif
if run -r -d pdfs tree && [[ -f pdfs/a/b/deep.pdf ]]; then
  pass "a tree into a folder"
else
  fail "a tree into a folder"
fi
if ! ls -A . | grep -q '\.part$' && ! ls -A pdfs/a/b | grep -q '^\.quorvex'; then
  pass "no temporary file left behind"
else
  fail "no temporary file left behind"
fi

cd "$root"
if [[ $failures -ne 0 ]]; then
  echo "windows-test: $failures failed"
  exit 1
fi
echo "windows-test: all passed"
