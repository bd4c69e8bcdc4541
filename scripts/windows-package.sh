#!/usr/bin/env bash
# The Windows release .zip: the .exe, the manual as plain text and the
# licences of the libraries linked into it.
#   scripts/windows-package.sh [WINDOWS_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-windows}")
version=$(sed -n 's/^project(quorvex_tiff2pdf VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=quorvex-tiff2pdf-$version-windows-x64
stage=$build/package/$name
licences=$build/deps/prefix/share/licenses
if [[ ! -d $licences ]]; then
  licences=build-windows/deps/prefix/share/licenses
fi

rm -rf "$stage" "$build/package/$name.zip"
mkdir -p "$stage/licences"
# Without its symbols: a third of the size.
x86_64-w64-mingw32-strip -o "$stage/quorvex-tiff2pdf.exe" "$build/bin/quorvex-tiff2pdf.exe"
# Plain text, CR LF: what Notepad shows as written.
GROFF_NO_SGR=1 groff -man -Tutf8 -P-cbu docs/quorvex-tiff2pdf.1 | sed 's/$/\r/' \
  >"$stage/quorvex-tiff2pdf.txt"
for library in zlib libdeflate libjpeg-turbo libtiff; do
  for file in "$licences/$library"/*; do
    cp "$file" "$stage/licences/$library-$(basename "$file")"
  done
done
# The C and C++ runtimes of MinGW-w64 are linked in too.
for file in /usr/share/doc/mingw-w64-common/copyright /usr/share/doc/gcc-mingw-w64-base/copyright; do
  if [[ -f $file ]]; then
    cp "$file" "$stage/licences/$(basename "$(dirname "$file")")-copyright"
  fi
done
(cd "$build/package" && zip -q -r -X "$name.zip" "$name")
echo "windows-package: $build/package/$name.zip"
