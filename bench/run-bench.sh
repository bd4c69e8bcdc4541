#!/usr/bin/env bash
# run-bench.sh [BUILD_DIR] - time quorvex-tiff2pdf against its peers on the
# shared benchmark corpus and print, per file, median wall and CPU seconds,
# peak memory, output size and the peers' time over ours; for the files where
# it changes the output, a row for --compact too.
#
# The corpus is built once into BUILD_DIR/bench-corpus (about a minute) and
# reused while its SHA256SUMS still match. Every tool runs once to warm up,
# then RUNS times, interleaved (A B C A B C ...) so that load from elsewhere
# on the machine falls on all of them alike.
#
# Environment:
#   RUNS=5            counted runs per tool and file
#   RUNS_BIG=3        counted runs for big-page.tif (img2pdf needs ~100 s a run)
#   WARMUP_BIG=ours   on big-page.tif only our converter warms up (it loads the
#                     file into the page cache for everyone); "all" warms every tool
#   RUNS_FOLDER=3     counted runs of the 20-file folder row
#   RUNS_HUGE=2       counted runs of the three huge single pages (make-huge.sh),
#                     no warm-up; they are the last file rows and draw bench/scaling.svg
#   HUGE_MEMORY=16M   the second --memory setting timed on the huge pages
#   PEERS="tiff2pdf tiff2pdf-z img2pdf imagemagick"   peers to compare against
#                     (empty: our converter alone)
#   COMPACT_FILES="jpeg-rgb.tif scan-bw-300-none.tif scan-bw-300-packbits.tif"
#                     files that also get a row for our --compact
#   FILES="..."       corpus files (with or without .tif) and/or "folder";
#                     default every file in the corpus, then the folder row
#   TIMEOUT=900       seconds before one run is stopped and reported as such
#   CONVERT           ImageMagick's convert (default /usr/bin/convert)
#   BENCH_CORPUS_SCRIPT  make-corpus.sh (default REPO/../shared/bench-corpus/)
#   BENCH_CORPUS_DIR  where the corpus is cached (default BUILD_DIR/bench-corpus)
#   FOLDER_SOURCE=scan-gray-300-lzw.tif   pages split into the 20-file folder
#   FILES="parallel"  the GNU parallel recipe against -j alone on 1,000 small
#                     files (bench/parallel-recipe-bench.sh; part of the default run)
#
# Results: a table on stdout and BUILD_DIR/bench-results.tsv.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-"$repo/build"}
mkdir -p "$build"
build=$(cd "$build" && pwd)

RUNS=${RUNS:-5}
RUNS_BIG=${RUNS_BIG:-3}
WARMUP_BIG=${WARMUP_BIG:-ours}
RUNS_FOLDER=${RUNS_FOLDER:-3}
RUNS_HUGE=${RUNS_HUGE:-2}
HUGE_MEMORY=${HUGE_MEMORY:-16M}
huge_files=(huge-gray-100mp.tif huge-gray-400mp.tif huge-rgb-170mp.tif)
PEERS=${PEERS-"tiff2pdf tiff2pdf-z img2pdf imagemagick"}
FILES=${FILES:-}
TIMEOUT=${TIMEOUT:-900}
FOLDER_SOURCE=${FOLDER_SOURCE:-scan-gray-300-lzw.tif}
COMPACT_FILES=${COMPACT_FILES-"jpeg-rgb.tif scan-bw-300-none.tif scan-bw-300-packbits.tif"}
corpus_script=${BENCH_CORPUS_SCRIPT:-"$repo/../shared/bench-corpus/make-corpus.sh"}
huge_script=${BENCH_HUGE_SCRIPT:-"$(dirname "$corpus_script")/make-huge.sh"}
corpus=${BENCH_CORPUS_DIR:-"$build/bench-corpus"}
tools_dir="$build/bench-tools"
work="$build/bench-work"
results="$build/bench-results.tsv"
export LC_ALL=C

if [[ -z "${CONVERT:-}" ]]; then
    if [[ -x /usr/bin/convert ]]; then
        CONVERT=/usr/bin/convert
    else
        CONVERT=$(command -v magick || command -v convert || echo convert)
    fi
fi
export MAGICK_TMPDIR="$work"

log() { echo "run-bench: $*" >&2; }
die() {
    log "$*"
    exit 1
}

# --- tools ---------------------------------------------------------------------------

build_tools() {
    if [[ ! -f "$build/CMakeCache.txt" ]]; then
        log "configuring $build"
        local generator=()
        command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
        cmake -S "$repo" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    log "building quorvex-tiff2pdf"
    cmake --build "$build" --target quorvex-tiff2pdf -j "$(nproc)" >/dev/null ||
        die "the converter does not build in $build"
    mkdir -p "$tools_dir"
    floor_tool="$build/bin/quorvex-zlib-floor"
    if ! cmake --build "$build" --target quorvex-zlib-floor >/dev/null 2>&1; then
        # bench/ is only part of the build when Google Benchmark was found.
        floor_tool="$tools_dir/quorvex-zlib-floor"
        # shellcheck disable=SC2046
        c++ -std=c++20 -O2 -o "$floor_tool" "$here/zlib_floor.cpp" \
            $(pkg-config --cflags --libs libtiff-4 libdeflate) || die "cannot build the Flate floor tool"
    fi
    measure="$tools_dir/measure"
    if [[ ! -x "$measure" || "$here/measure.c" -nt "$measure" ]]; then
        cc -O2 -o "$measure" "$here/measure.c" || die "cannot build $here/measure.c"
    fi
    ours="$build/bin/quorvex-tiff2pdf"
}

# --- corpus ---------------------------------------------------------------------------

corpus_is_current() {
    [[ -f "$corpus/MANIFEST.tsv" && -f "$corpus/SHA256SUMS" ]] &&
        (cd "$corpus" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1)
}

build_corpus() {
    if corpus_is_current; then
        log "corpus in $corpus is current"
        return
    fi
    [[ -x "$corpus_script" || -f "$corpus_script" ]] ||
        die "no corpus script at $corpus_script (set BENCH_CORPUS_SCRIPT)"
    log "building the corpus into $corpus (about a minute on two cores)"
    CONVERT="$CONVERT" sh "$corpus_script" "$corpus" >&2 || die "the corpus script failed"
}

# The three huge pages, tiled from the corpus's scans (about 30 s and 1.2 GB
# of memory); not in the corpus's checksums, so made again only when missing.
build_huge() {
    local f
    for f in "${huge_files[@]}"; do
        [[ -f "$corpus/$f" ]] && continue
        log "tiling the huge pages into $corpus"
        sh "$huge_script" "$corpus" >&2 || die "the huge-page script failed ($huge_script)"
        return
    done
}

# 20 single-page files from FOLDER_SOURCE's pages, repeated as needed.
build_folder() {
    folder="$build/bench-folder20"
    if [[ -f "$folder/.complete" && "$folder/.complete" -nt "$corpus/SHA256SUMS" ]]; then return; fi
    command -v tiffsplit >/dev/null 2>&1 || die "tiffsplit (libtiff-tools) is needed for the folder row"
    rm -rf "$folder" "$work/split"
    mkdir -p "$folder" "$work/split"
    tiffsplit "$corpus/$FOLDER_SOURCE" "$work/split/page-"
    local split_pages=("$work/split"/page-*.tif) i
    [[ ${#split_pages[@]} -gt 0 ]] || die "tiffsplit gave no pages from $FOLDER_SOURCE"
    for ((i = 0; i < 20; i++)); do
        cp "${split_pages[i % ${#split_pages[@]}]}" "$(printf '%s/page-%02d.tif' "$folder" $((i + 1)))"
    done
    rm -rf "$work/split"
    touch "$folder/.complete"
}

# --- one tool, one run ----------------------------------------------------------------

peer_available() {
    case $1 in
        tiff2pdf | tiff2pdf-z) command -v tiff2pdf >/dev/null 2>&1 ;;
        tiffcp) command -v tiffcp >/dev/null 2>&1 ;;
        img2pdf) command -v img2pdf >/dev/null 2>&1 ;;
        imagemagick) command -v "$CONVERT" >/dev/null 2>&1 ;;
        *) return 1 ;;
    esac
}

# command_for TOOL IN OUT: sets the array cmd
command_for() {
    local in=$2 out=$3
    case $1 in
        ours) cmd=("$ours" -q -o "$out" "$in") ;;
        ours-compact) cmd=("$ours" -q --compact -o "$out" "$in") ;;
        tiff2pdf) cmd=(tiff2pdf -o "$out" "$in") ;;
        tiff2pdf-z) cmd=(tiff2pdf -m 0 -z -o "$out" "$in") ;;
        tiffcp) cmd=(tiffcp -c zip "$in" "$out") ;;
        ours-memory) cmd=("$ours" -q --memory "$HUGE_MEMORY" -o "$out" "$in") ;;
        img2pdf) cmd=(img2pdf -o "$out" "$in") ;;
        imagemagick) cmd=("$CONVERT" -limit memory 2GiB -limit disk 8GiB "$in" "$out") ;;
        ours-j1) cmd=("$ours" -q -j 1 -d "$out" "$in") ;;
        ours-j2) cmd=("$ours" -q -j 2 -d "$out" "$in") ;;
        *) die "unknown tool $1" ;;
    esac
}

# Per tool: space-separated figures of the counted runs, and the outcome.
declare -A walls cpus peaks sizes outcome reason

# run_once TOOL IN COUNTED: runs the tool once and records what it cost.
run_once() {
    local tool=$1 in=$2 counted=$3 out="$work/out-$1" logfile="$work/log-$1"
    [[ "${outcome[$tool]}" == ok ]] || return 0
    rm -rf "$out" "$work"/.quorvex-*.part
    [[ $tool == ours-j* ]] && mkdir -p "$out"
    local cmd line wall cpu kb status size
    if [[ $tool == ours-j* ]]; then command_for "$tool" "$in" "$out"; else command_for "$tool" "$in" "$out.pdf"; fi
    line=$("$measure" -t "$TIMEOUT" -l "$logfile" -- "${cmd[@]}")
    read -r wall cpu kb status <<<"$line"
    if [[ $tool == ours-j* ]]; then
        size=$(cat "$out"/*.pdf 2>/dev/null | wc -c)
    else
        size=0
        [[ -f "$out.pdf" ]] && size=$(stat -c %s "$out.pdf")
    fi
    if [[ $status != 0 ]]; then
        case $status in
            timeout) outcome[$tool]="failed: timeout after ${TIMEOUT}s" ;;
            signal-*) outcome[$tool]="failed: ${status/-/ }" ;;
            *) outcome[$tool]="failed: exit $status" ;;
        esac
        reason[$tool]=$(grep -v '^\s*$' "$logfile" 2>/dev/null | head -n 1 | cut -c1-110 || true)
        return 0
    fi
    if [[ ${size:-0} -eq 0 ]]; then
        outcome[$tool]="failed: no output"
        return 0
    fi
    if [[ $counted == 1 ]]; then
        walls[$tool]+="$wall "
        cpus[$tool]+="$cpu "
        peaks[$tool]+="$kb "
        sizes[$tool]=$size
    fi
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[++n] = $1 } END { if (!n) print "nan"; else print (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'; }
maximum() { tr ' ' '\n' | awk 'NF && $1 > m { m = $1 } END { print m + 0 }'; }

# measure_tools IN RUNS WARMUP_TOOLS TOOL...: the interleaved rounds.
measure_tools() {
    local in=$1 runs=$2 warm=$3 tool round
    shift 3
    for tool in "$@"; do
        walls[$tool]="" cpus[$tool]="" peaks[$tool]="" sizes[$tool]=0 reason[$tool]=""
        outcome[$tool]=ok
    done
    for tool in "$@"; do
        if [[ $warm == all || " $warm " == *" $tool "* ]]; then run_once "$tool" "$in" 0; fi
    done
    for ((round = 1; round <= runs; round++)); do
        for tool in "$@"; do run_once "$tool" "$in" 1; done
    done
}

# --- reporting ------------------------------------------------------------------------

fmt_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a == a + 0) printf "%.2f", a / b; else print "-" }'; }

# report_file NAME PAGES RATIO_LABEL TOOL...: prints the table rows (ratios
# against the first tool) and appends TSV rows.
report_file() {
    local name=$1 pages=$2 ratio_label=$3 tool wall cpu peak size ratio label
    shift 3
    local ours_wall
    ours_wall=$(median <<<"${walls[${1}]}")
    printf '  %-14s %9s %9s %9s %10s %12s\n' tool "wall s" "cpu s" "peak MB" "out MB" "$ratio_label"
    for tool in "$@"; do
        label=$tool
        [[ $tool == tiff2pdf-z ]] && label="tiff2pdf -z"
        if [[ "${outcome[$tool]}" != ok ]]; then
            printf '  %-14s %s\n' "$label" "${outcome[$tool]}${reason[$tool]:+ (${reason[$tool]})}"
            printf '%s\t%s\t%s\t%s\t\t\t\t\t\t\t\n' "$name" "$pages" "$tool" "${outcome[$tool]}" >>"$results"
            continue
        fi
        wall=$(median <<<"${walls[$tool]}")
        cpu=$(median <<<"${cpus[$tool]}")
        peak=$(awk -v k="$(maximum <<<"${peaks[$tool]}")" 'BEGIN { printf "%.1f", k / 1024 }')
        size=${sizes[$tool]}
        ratio=$(fmt_ratio "$wall" "$ours_wall")
        [[ $tool == "$1" ]] && ratio="-"
        printf '  %-14s %9.3f %9.3f %9s %10.2f %12s\n' "$label" "$wall" "$cpu" "$peak" \
            "$(awk -v s="$size" 'BEGIN { print s / 1e6 }')" "$ratio"
        printf '%s\t%s\t%s\tok\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$pages" "$tool" \
            "$(wc -w <<<"${walls[$tool]}")" "$wall" "$cpu" "$peak" "$size" "$ratio" \
            "$(echo "${walls[$tool]}" | xargs | tr ' ' ',')" >>"$results"
        summary_wall[$name/$tool]=$wall
        summary_cpu[$name/$tool]=$cpu
        summary_peak[$name/$tool]=$peak
        summary_size[$name/$tool]=$size
    done
}

declare -A summary_wall summary_cpu summary_peak summary_size floor_compress floor_compress_cpu floor_decoded_bytes

# report_floor NAME: libdeflate (level 6, as ours) alone on the file's decoded pixels, in
# wall and CPU seconds of one core. Ours is compared on both: wall against
# wall is the goal on an idle machine, CPU against CPU still means something
# when others load it.
report_floor() {
    local name=$1 line pages fax decoded decode_s compress_s compressed expanded expanded_s
    local compress_cpu expanded_cpu
    if ! line=$("$floor_tool" "$corpus/$name"); then
        printf '  %-14s failed\n' "Flate floor"
        return
    fi
    IFS=$'\t' read -r pages fax decoded decode_s compress_s compressed expanded expanded_s \
        compress_cpu expanded_cpu <<<"$line"
    if [[ $fax == "$pages" ]]; then
        printf '  %-14s n/a (pass-through)\n' "Flate floor"
        printf '%s\t%s\tflate-floor\tn/a (pass-through)\t\t\t\t\t\t\t\n' "$name" "$pages" >>"$results"
        return
    fi
    floor_compress[$name]=$compress_s
    floor_compress_cpu[$name]=$compress_cpu
    floor_decoded_bytes[$name]=$decoded
    local ours_wall=${summary_wall[$name/ours]:-} ours_cpu=${summary_cpu[$name/ours]:-}
    printf '  %-14s %9.3f %9.3f   libdeflate level 6 on %.1f MB decoded pixels, one core (decoding: %.3f s)\n' \
        "Flate floor" "$compress_s" "$compress_cpu" "$(awk -v b="$decoded" 'BEGIN { print b / 1e6 }')" "$decode_s"
    [[ -n $ours_wall ]] && printf '  %-14s ours / floor: wall %s, CPU %s\n' "" \
        "$(fmt_ratio "$ours_wall" "$compress_s")" "$(fmt_ratio "$ours_cpu" "$compress_cpu")"
    if [[ $expanded != "$decoded" ]]; then
        printf '  %-14s %9.3f %9.3f   the same with samples expanded to bytes (%.1f MB)\n' "Flate floor 8b" \
            "$expanded_s" "$expanded_cpu" "$(awk -v b="$expanded" 'BEGIN { print b / 1e6 }')"
        [[ -n $ours_wall ]] && printf '  %-14s ours / floor 8b: wall %s, CPU %s\n' "" \
            "$(fmt_ratio "$ours_wall" "$expanded_s")" "$(fmt_ratio "$ours_cpu" "$expanded_cpu")"
    fi
    printf '%s\t%s\tflate-floor\tok\t1\t%s\t%s\t\t%s\t%s\t%s\n' "$name" "$pages" "$compress_s" \
        "$compress_cpu" "$compressed" "$(fmt_ratio "${ours_wall:-nan}" "$compress_s")" "decode=$decode_s" >>"$results"
    if [[ $expanded != "$decoded" ]]; then
        printf '%s\t%s\tflate-floor-bytes\tok\t1\t%s\t%s\t\t\t%s\t%s\n' "$name" "$pages" "$expanded_s" \
            "$expanded_cpu" "$(fmt_ratio "${ours_wall:-nan}" "$expanded_s")" "expanded_bytes=$expanded" >>"$results"
    fi
}

bench_file() {
    local name=$1 pages runs=$RUNS warm=all tools=(ours) peer
    [[ " $COMPACT_FILES " == *" $name "* ]] && tools+=(ours-compact)
    pages=$(awk -F'\t' -v f="$name" '$1 == f { print $3 }' "$corpus/MANIFEST.tsv")
    for peer in $PEERS; do
        if peer_available "$peer"; then tools+=("$peer"); else missing_peers+=" $peer"; fi
    done
    if [[ $name == big-page.tif ]]; then
        runs=$RUNS_BIG
        warm=$WARMUP_BIG
    fi
    echo
    echo "== $name  ($pages pages, $(awk -v b="$(wc -c <"$corpus/$name")" 'BEGIN { printf "%.1f", b / 1e6 }') MB; $runs counted runs, medians)"
    measure_tools "$corpus/$name" "$runs" "$warm" "${tools[@]}"
    report_file "$name" "$pages" "peer/ours" "${tools[@]}"
    for peer in $PEERS; do
        peer_available "$peer" || {
            printf '  %-14s missing\n' "$peer"
            printf '%s\t%s\t%s\tmissing\t\t\t\t\t\t\t\n' "$name" "$pages" "$peer" >>"$results"
        }
    done
    report_floor "$name"
}

bench_folder() {
    build_folder
    echo
    echo "== folder of 20 single-page files (pages of $FOLDER_SOURCE): -j 2 against -j 1; $RUNS_FOLDER counted runs"
    measure_tools "$folder" "$RUNS_FOLDER" all ours-j1 ours-j2
    report_file folder-20 20 "time/-j 1" ours-j1 ours-j2
    local j1=${summary_wall[folder-20/ours-j1]:-} j2=${summary_wall[folder-20/ours-j2]:-}
    [[ -n $j1 && -n $j2 ]] && printf '  -j 2 is %sx faster than -j 1\n' "$(fmt_ratio "$j1" "$j2")"
}

# The huge pages: ours at the default budget and at HUGE_MEMORY, against
# tiff2pdf -z (-m 0 lifts its allocation limit) and tiffcp recompressing the
# page with Deflate (libtiff's own decode and compression, no PDF).
bench_huge() {
    local name=$1 tools=(ours ours-memory) peer
    for peer in tiff2pdf-z tiffcp; do peer_available "$peer" && tools+=("$peer"); done
    echo
    echo "== $name  (1 page, $(megapixels "$name") MP; $RUNS_HUGE counted runs, no warm-up; ours-memory: --memory $HUGE_MEMORY)"
    measure_tools "$corpus/$name" "$RUNS_HUGE" none "${tools[@]}"
    report_file "$name" 1 "peer/ours" "${tools[@]}"
}

megapixels() {
    tiffinfo "$corpus/$1" 2>/dev/null | awk '/Image Width:/ { print $3 * $6 / 1e6; exit }'
}

# bench/scaling.svg: wall time and peak memory against the page's megapixels,
# ours and tiff2pdf -z, from this run's medians of the huge pages.
draw_scaling() {
    local data="$build/scaling.tsv" f
    command -v gnuplot >/dev/null 2>&1 || { log "no gnuplot: bench/scaling.svg not drawn"; return; }
    : >"$data"
    for f in "${huge_files[@]}"; do
        [[ -n ${summary_wall[$f/ours]:-} && -n ${summary_wall[$f/tiff2pdf-z]:-} ]] || continue
        printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$(megapixels "$f")" "${summary_wall[$f/ours]}" \
            "${summary_wall[$f/tiff2pdf-z]}" "${summary_peak[$f/ours]}" "${summary_peak[$f/tiff2pdf-z]}" \
            "${f%.tif}" >>"$data"
    done
    [[ -s $data ]] || return 0
    sort -g -o "$data" "$data"
    gnuplot <<PLOT || log "gnuplot failed: bench/scaling.svg not drawn"
set terminal svg size 900,420 dynamic font "sans,12"
set output "$here/scaling.svg"
set multiplot layout 1,2 title "One large page (grey; RGB at 174 MP), $(nproc) CPUs, $(date -u +%Y-%m-%d), $(uptime | sed 's/.*load average: *\([0-9.]*\).*/load \1/') (bench/run-bench.sh)"
set key bottom right
set grid
set xrange [0:*]
set xlabel "megapixels"
set ylabel "wall seconds (median)"
set yrange [0:*]
plot "$data" using 1:2 with points pt 7 ps 1.5 title "quorvex-tiff2pdf", \
     "$data" using 1:3 with points pt 5 ps 1.5 title "tiff2pdf -m 0 -z"
set ylabel "peak memory, MB"
set logscale y
set yrange [10:*]
plot "$data" using 1:4 with points pt 7 ps 1.5 title "quorvex-tiff2pdf", \
     "$data" using 1:5 with points pt 5 ps 1.5 title "tiff2pdf -m 0 -z"
unset multiplot
PLOT
    log "drew $here/scaling.svg"
}

# --- targets --------------------------------------------------------------------------

is_number() { [[ $1 =~ ^[0-9]+(\.[0-9]*)?([eE][-+]?[0-9]+)?$ ]]; }
verdict() { is_number "$1" || { echo "not measured"; return; }; awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN { ok = (op == "<=") ? v <= t : v >= t; print ok ? "holds" : "MISSED" }'; }

# target LABEL VALUE OP THRESHOLD
target() {
    local value=${2:-nan}
    local shown=n/a
    is_number "$value" && shown=$(printf '%.3f' "$value")
    printf '  %-66s %8s (%s %s)  %s\n' "$1" "$shown" "$3" "$4" "$(verdict "$value" "$3" "$4")"
}

ratio_of() { # ratio_of FILE TOOL_A TOOL_B -> wall(A) / wall(B)
    local a=${summary_wall[$1/$2]:-} b=${summary_wall[$1/$3]:-}
    [[ -n $a && -n $b ]] && fmt_ratio "$a" "$b" || echo nan
}

size_ratio_of() { # size_ratio_of FILE TOOL_A TOOL_B -> output size(A) / size(B), unrounded
    local a=${summary_size[$1/$2]:-} b=${summary_size[$1/$3]:-}
    [[ -n $a && -n $b ]] && awk -v a="$a" -v b="$b" 'BEGIN { printf "%.5f", a / b }' || echo nan
}

peak_ratio_of() { # peak_ratio_of FILE TOOL_A TOOL_B -> peak memory(A) / peak(B)
    local a=${summary_peak[$1/$2]:-} b=${summary_peak[$1/$3]:-}
    [[ -n $a && -n $b ]] && fmt_ratio "$a" "$b" || echo nan
}

print_targets() {
    echo
    echo "== targets (ratio of median wall times in this run)"
    target "fax-multi: ours / tiff2pdf" "$(ratio_of fax-multi.tif ours tiff2pdf)" "<=" 1.2
    target "fax-multi: our peak MB" "${summary_peak[fax-multi.tif/ours]:-}" "<=" 10
    target "g3-fax: tiff2pdf / ours" "$(ratio_of g3-fax.tif tiff2pdf ours)" ">=" 20
    target "fax-multistrip: ours / tiff2pdf" "$(ratio_of fax-multistrip.tif ours tiff2pdf)" "<=" 1.1
    local f
    for f in scan-gray-300-lzw.tif scan-rgb-300-lzw.tif; do
        target "${f%.tif}: ours / tiff2pdf -z" "$(ratio_of "$f" ours tiff2pdf-z)" "<=" 0.7
        target "${f%.tif}: output size ours / tiff2pdf -z" "$(size_ratio_of "$f" ours tiff2pdf-z)" "<=" 1.0
        target "${f%.tif}: imagemagick / ours" "$(ratio_of "$f" imagemagick ours)" ">=" 1.5
        target "${f%.tif}: img2pdf / ours" "$(ratio_of "$f" img2pdf ours)" ">=" 3
    done
    target "big-page: ours / tiff2pdf -z" "$(ratio_of big-page.tif ours tiff2pdf-z)" "<=" 1.0
    target "big-page: peak MB ours / tiff2pdf -z" "$(peak_ratio_of big-page.tif ours tiff2pdf-z)" "<=" 0.99
    target "jpeg-rgb --compact: output size / tiff2pdf" "$(size_ratio_of jpeg-rgb.tif ours-compact tiff2pdf)" "<=" 1.05
    for f in scan-bw-300-none.tif scan-bw-300-packbits.tif; do
        target "${f%.tif} --compact: output size / tiff2pdf" "$(size_ratio_of "$f" ours-compact tiff2pdf)" "<=" 1.05
        target "${f%.tif} --compact: wall / tiff2pdf" "$(ratio_of "$f" ours-compact tiff2pdf)" "<=" 1.5
    done
    local big=big-page.tif
    if [[ -n ${summary_wall[$big/ours]:-} && -n ${floor_compress[$big]:-} ]]; then
        target "big-page: ours / Flate floor (wall)" "$(fmt_ratio "${summary_wall[$big/ours]}" "${floor_compress[$big]}")" "<=" 1.05
        target "big-page: ours / Flate floor (CPU; for a loaded machine)" "$(fmt_ratio "${summary_cpu[$big/ours]}" "${floor_compress_cpu[$big]}")" "<=" 1.05
        local allowed
        allowed=$(awk -v d="${floor_decoded_bytes[$big]}" -v c="${summary_size[$big/ours]}" 'BEGIN { printf "%.1f", (d + c) / 1048576 + 32 }')
        target "big-page: our peak MB (allowed: decoded + compressed + 32 = $allowed)" "${summary_peak[$big/ours]:-}" "<=" "$allowed"
    else
        target "big-page: ours / Flate floor" "" "<=" 1.05
    fi
    target "folder of 20: -j 1 / -j 2" "$(ratio_of folder-20 ours-j1 ours-j2)" ">=" 1.8
    target "scan-rgb-300-lzw: peak MB ours / tiff2pdf -z" "$(peak_ratio_of scan-rgb-300-lzw.tif ours tiff2pdf-z)" "<=" 1.0
    target "huge-gray-100mp: ours / tiff2pdf -z" "$(ratio_of huge-gray-100mp.tif ours tiff2pdf-z)" "<=" 0.6
    for f in huge-gray-400mp.tif huge-rgb-170mp.tif; do
        target "${f%.tif}: ours / tiff2pdf -z" "$(ratio_of "$f" ours tiff2pdf-z)" "<=" 0.8
        target "${f%.tif}: our peak MB" "${summary_peak[$f/ours]:-}" "<=" 100
    done
}

print_summary() {
    echo
    echo "== summary: median wall s (peer / ours), peak MB"
    local tool f line
    printf '  %-32s %-16s' file ours
    for tool in $PEERS; do printf ' %-22s' "$tool"; done
    printf ' %s\n' "Flate floor (ours/floor)"
    for f in "${bench_files[@]}"; do
        [[ -n ${summary_wall[$f/ours]:-} ]] || {
            printf '  %-32s %s\n' "$f" "ours: ${outcome[ours]:-not run}"
            continue
        }
        line=$(printf '%.3f %sMB' "${summary_wall[$f/ours]}" "${summary_peak[$f/ours]}")
        printf '  %-32s %-16s' "$f" "$line"
        for tool in $PEERS; do
            if [[ -n ${summary_wall[$f/$tool]:-} ]]; then
                line=$(printf '%.3f (%s) %sMB' "${summary_wall[$f/$tool]}" "$(ratio_of "$f" "$tool" ours)" "${summary_peak[$f/$tool]}")
            else
                line=$(awk -F'\t' -v f="$f" -v t="$tool" '$1 == f && $3 == t { print $4 }' "$results" | head -n1)
            fi
            printf ' %-22s' "$line"
        done
        if [[ -n ${floor_compress[$f]:-} ]]; then
            printf ' %.3f (%s)\n' "${floor_compress[$f]}" "$(fmt_ratio "${summary_wall[$f/ours]}" "${floor_compress[$f]}")"
        else
            printf ' n/a\n'
        fi
    done
}

# --- main -----------------------------------------------------------------------------

build_tools
build_corpus
build_huge
rm -rf "$work"
mkdir -p "$work"

bench_files=()
huge_rows=()
want_folder=0
want_parallel=0
if [[ -z $FILES ]]; then
    while IFS=$'\t' read -r f _; do [[ $f == file ]] || bench_files+=("$f"); done <"$corpus/MANIFEST.tsv"
    huge_rows=("${huge_files[@]}")
    want_folder=1
    want_parallel=1
else
    for f in $FILES; do
        if [[ $f == folder ]]; then
            want_folder=1
            continue
        fi
        if [[ $f == parallel ]]; then
            want_parallel=1
            continue
        fi
        [[ $f == *.tif ]] || f="$f.tif"
        [[ -f "$corpus/$f" ]] || die "no $f in the corpus"
        if [[ " ${huge_files[*]} " == *" $f "* ]]; then huge_rows+=("$f"); else bench_files+=("$f"); fi
    done
fi

missing_peers=""
printf 'file\tpages\ttool\tstatus\truns\twall_median_s\tcpu_median_s\tpeak_mb\tout_bytes\tpeer_over_ours\twalls_s\n' >"$results"
echo "quorvex-tiff2pdf benchmark, $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) CPUs, $(uptime | sed 's/.*load average/load average/')"
echo "build: $build ($(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$build/CMakeCache.txt")); corpus: $corpus"
echo "peers: $(for p in $PEERS; do peer_available "$p" && printf '%s ' "$p"; done)| tiff2pdf = libtiff $(tiffinfo 2>&1 | sed -n 's/^LIBTIFF, Version //p' | head -n1)"

for f in "${bench_files[@]}"; do bench_file "$f"; done
for f in "${huge_rows[@]}"; do bench_huge "$f"; done
[[ ${#huge_rows[@]} -gt 0 ]] && draw_scaling
[[ $want_folder == 1 ]] && bench_folder
if [[ $want_parallel == 1 ]]; then
    echo
    "$here/parallel-recipe-bench.sh" "$build"
fi
print_summary
print_targets
echo
echo "load at the end: $(uptime | sed 's/.*load average/load average/')"
echo "TSV: $results"
rm -rf "$work"
