#!/usr/bin/env bash
# Builds Quillfen and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j "$(nproc)" --target quillfen
exec ./build/quillfen "$@"
