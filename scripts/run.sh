#!/usr/bin/env bash
# Installs what is missing, builds Temra (release) and starts it on its input page.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
exec build/release/app/temra "$@"
