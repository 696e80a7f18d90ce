#!/usr/bin/env bash
# Sets up what is missing, builds qelsim and runs its demo: `scripts/demo.sh [--ports N]`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/release" --target qelsim -- -j2 >/dev/null
exec "$root/build/release/tools/qelsim/qelsim" demo "$@"
