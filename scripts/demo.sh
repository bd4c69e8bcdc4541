#!/usr/bin/env bash
# Generates the sample TIFFs, converts each beside itself and says what it wrote.
set -euo pipefail
build=${1:-build}
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
"$build/bin/quorvex-make-samples" "$demo"
echo
"$build/bin/quorvex-tiff2pdf" "$demo"
echo
for pdf in "$demo"/*.pdf; do
  pages=$(pdfinfo "$pdf" 2>/dev/null | awk '/^Pages:/ {print $2}')
  size=$(pdfinfo "$pdf" 2>/dev/null | awk -F': *' '/^Page size:/ {print $2; exit}')
  printf '%-40s %3s page(s), %s\n' "$pdf" "${pages:-?}" "${size:-?}"
done
