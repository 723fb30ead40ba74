#!/usr/bin/env bash
# Installs what is missing, then checks Temra as CI does: the formatting, a build
# with warnings as errors and every test (among them the installation: the
# desktop entry, the AppStream metadata and the manual page validated, the Debian
# package built and checked), clang-tidy, and every test again under
# AddressSanitizer and UBSan (leaks reported).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
sources=$(git ls-files '*.cpp' '*.h')
checked=$(git ls-files 'core/*.cpp' 'study/*.cpp' 'export/*.cpp' 'plot/*.cpp' 'ui/*.cpp' 'cli/*.cpp' \
                       'platform/*.cpp' 'app/*.cpp' 'dist/*.cpp' 'python/*.cpp')

echo "== Formatting (clang-format)"
clang-format --dry-run -Werror $sources

echo "== Build with warnings as errors, and every test"
cmake --preset dev -DTEMRA_WERROR=ON >/dev/null
cmake --build --preset dev -j"$jobs"
ctest --preset dev -j"$jobs"

echo "== clang-tidy (.clang-tidy; tests/ and bench/ with limits of their own)"
# Clang does not know some of GCC's warning options in the compile commands.
run-clang-tidy -quiet -p build/dev -j "$jobs" -extra-arg=-Wno-unknown-warning-option $checked \
    $(git ls-files 'tests/*.cpp' 'bench/*.cpp')

echo "== Every test under AddressSanitizer and UBSan"
cmake --preset asan -DTEMRA_WERROR=ON >/dev/null
cmake --build --preset asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --preset asan -j"$jobs"
