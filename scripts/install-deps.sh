#!/usr/bin/env bash
# Installs the Debian packages needed to build and test the converter.
# Idempotent: apt is only touched when something is missing.
#   scripts/install-deps.sh          build + test dependencies
#   scripts/install-deps.sh --bench  also the benchmark peers and corpus tools
#   scripts/install-deps.sh --windows  also MinGW-w64, Wine and the packaging tools
#                                      of the Windows build
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  libtiff-dev zlib1g-dev libjpeg-dev libdeflate-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  parallel python3-yaml strace
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qpdf poppler-utils mupdf-tools libtiff-tools
  libxcb1-dev xvfb xauth
  desktop-file-utils dpkg-dev file
  clang libclang-rt-14-dev llvm clang-format clang-tidy
  liblcms2-dev
  # Apache PDFBox Preflight, the PDF/A-1b validator of the suite; it needs
  # the activation and JAXB jars without declaring them.
  libpdfbox2-java libactivation-java libjaxb-api-java default-jre-headless
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(ghostscript imagemagick img2pdf time gnuplot-nox python3-numpy python3-pil)
fi
if [[ "${1:-}" == "--windows" ]]; then
  # googletest: its source (/usr/src/googletest) is built for Windows too.
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 googletest zip groff-base)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
