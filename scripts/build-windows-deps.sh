#!/usr/bin/env bash
# Builds zlib, libdeflate, libjpeg-turbo and libtiff as static MinGW-w64
# libraries for the Windows build, from Debian's own source packages, into
#   build-windows/deps/prefix
# Each library is rebuilt only when Debian's version of it changes (a stamp
# per library and version), so a second run costs a few seconds.
# Only what the converter links is built: no shared libraries, no tools, no
# documentation, no tests, libtiff with the zlib, deflate and JPEG codecs only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
deps=${QUORVEX_WINDOWS_DEPS:-$root/build-windows/deps}
prefix=$deps/prefix
sources=$deps/sources
stamps=$deps/stamps
host=x86_64-w64-mingw32
jobs=${JOBS:-2}
toolchain=$root/cmake/mingw-w64-x86_64.cmake

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi

# apt-get source needs a deb-src line for the archive the binaries come from.
ensure_source_entry() {
  local list=/etc/apt/sources.list.d/quorvex-deb-src.sources
  if [[ -n $(apt-cache showsrc tiff 2>/dev/null) ]]; then
    return
  fi
  if [[ ! -f $list ]]; then
    echo "build-windows-deps: adding Debian's source archive ($list)"
    "${sudo_cmd[@]}" tee "$list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  "${sudo_cmd[@]}" apt-get update -q
}

# The version the Linux build links (its -dev package's source), so that both
# builds compress with the same library code and write the same bytes; the
# archive's newest when that package is not installed.
source_version() {
  local package=$1 dev=$2 version
  version=$(dpkg-query -W -f='${source:Version}' "$dev" 2>/dev/null || true)
  if [[ -z $version ]]; then
    version=$(apt-cache showsrc "$package" | awk '/^Version:/ {print $2}' | sort -V | tail -n 1)
  fi
  echo "$version"
}

# Unpacks the source package into $sources and prints its folder. When the
# wanted version's source cannot be fetched (a security update whose source
# the mirror lacks), the newest version the archive does serve is used.
fetch_source() {
  local package=$1 version=$2 candidate upstream dir
  for candidate in "$version" $(apt-cache showsrc "$package" |
    awk '/^Version:/ {print $2}' | sort -Vr); do
    upstream=${candidate#*:}
    upstream=${upstream%-*}
    dir=$sources/$package-$upstream
    if [[ -d $dir ]]; then
      echo "$dir"
      return
    fi
    mkdir -p "$sources"
    if (cd "$sources" && apt-get source -q "$package=$candidate" >&2); then
      echo "$dir"
      return
    fi
    echo "build-windows-deps: $package $candidate not fetched, trying older" >&2
  done
  echo "build-windows-deps: no source of $package could be fetched" >&2
  return 1
}

cmake_configure() {
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQUORVEX_DEPS_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -Wno-dev "$@" >/dev/null
}

cmake_static() {
  cmake_configure "$@"
  cmake --build "$2" -j "$jobs" >/dev/null
  cmake --install "$2" >/dev/null
}

build_zlib() {
  # Debian's zlib source leaves out win32/; its configure builds libz.a alone.
  (cd "$1" && CHOST=$host CC=$host-gcc-posix AR=$host-ar RANLIB=$host-ranlib \
    ./configure --static --prefix="$prefix" >/dev/null &&
    make -j "$jobs" libz.a >/dev/null && make install-libs install-headers >/dev/null 2>&1 ||
    make install >/dev/null)
  install -D -m 644 "$1/LICENSE" "$prefix/share/licenses/zlib/LICENSE"
}

build_libdeflate() {
  # The library alone: no DLL, no gzip programs.
  make -C "$1" CC=$host-gcc-posix AR=$host-ar DISABLE_SHARED=1 PREFIX="$prefix" \
    -j "$jobs" libdeflatestatic.lib >/dev/null
  make -C "$1" CC=$host-gcc-posix AR=$host-ar DISABLE_SHARED=1 PREFIX="$prefix" \
    PROG_SUFFIX=.exe install >/dev/null
  # libdeflate names its static library for MSVC on MinGW too; -ldeflate wants this name.
  mv "$prefix/lib/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  install -D -m 644 "$1/COPYING" "$prefix/share/licenses/libdeflate/COPYING"
}

build_libjpeg_turbo() {
  # The SIMD parts need nasm; the C code gives the same bytes, a little slower.
  # Its programs (cjpeg, jpegtran...) cannot be turned off, so only the
  # library is built and installed by hand.
  local build=$1/mingw-static
  cmake_configure "$1" "$build" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JAVA=OFF
  cmake --build "$build" -j "$jobs" --target jpeg-static >/dev/null
  install -D -m 644 "$build/libjpeg.a" "$prefix/lib/libjpeg.a"
  # libtiff's pkg-config file requires libjpeg's: without it pkg-config
  # answers nothing for libtiff-4, and the tests' libraries lose its headers.
  install -D -m 644 "$build/pkgscripts/libjpeg.pc" "$prefix/lib/pkgconfig/libjpeg.pc"
  install -m 644 "$build/jconfig.h" "$1/jpeglib.h" "$1/jmorecfg.h" "$1/jerror.h" \
    "$prefix/include/"
  install -D -m 644 "$1/LICENSE.md" "$prefix/share/licenses/libjpeg-turbo/LICENSE.md"
  install -D -m 644 "$1/README.ijg" "$prefix/share/licenses/libjpeg-turbo/README.ijg"
}

build_tiff() {
  # The codecs are required: a libtiff that quietly lacks one would fail
  # only on the files that use it.
  cmake_static "$1" "$1/mingw-static" -Dtiff-tools=OFF -Dtiff-tests=OFF \
    -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dtiff-deprecated=OFF -Dcxx=OFF \
    -Dzlib=ON -Dlibdeflate=ON -Djpeg=ON -Dold-jpeg=ON -Djpeg12=OFF \
    -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dpixarlog=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON -DCMAKE_DISABLE_FIND_PACKAGE_GLUT=ON
  for codec in ZIP_SUPPORT LIBDEFLATE_SUPPORT JPEG_SUPPORT; do
    if ! grep -q "^#define $codec" "$prefix/include/tiffconf.h"; then
      echo "build-windows-deps: libtiff was built without $codec" >&2
      return 1
    fi
  done
  install -D -m 644 "$1/LICENSE.md" "$prefix/share/licenses/libtiff/LICENSE.md"
}

ensure_source_entry
mkdir -p "$prefix" "$stamps"
# Libraries built before libjpeg.pc was installed are built again.
if [[ ! -f $prefix/lib/pkgconfig/libjpeg.pc ]]; then
  rm -f "$stamps"/libjpeg-turbo-*
fi
rebuilt=0
for pair in zlib:zlib1g-dev libdeflate:libdeflate-dev \
  libjpeg-turbo:libjpeg62-turbo-dev tiff:libtiff-dev; do
  package=${pair%%:*}
  version=$(source_version "$package" "${pair#*:}")
  stamp=$stamps/$package-$version
  # A library rebuilt below it invalidates libtiff, which links them all.
  if [[ -f $stamp && $rebuilt -eq 0 ]]; then
    echo "build-windows-deps: $package $version cached"
    continue
  fi
  echo "build-windows-deps: building $package $version"
  dir=$(fetch_source "$package" "$version")
  rm -rf "$dir/mingw-static"
  "build_${package//-/_}" "$dir"
  rm -f "$stamps/$package"-*
  touch "$stamp"
  rebuilt=1
done
echo "build-windows-deps: libraries in $prefix"
