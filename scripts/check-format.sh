#!/usr/bin/env bash
# Fails when a C++ source of the project differs from what clang-format makes
# of it (.clang-format at the top).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
echo "check-format: every source is formatted"
