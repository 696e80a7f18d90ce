#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the Linux build with AddressSanitizer and UndefinedBehaviorSanitizer, all tests;
#   2. the Linux build with ThreadSanitizer, the tests that run real threads (label "threads");
#   3. the Windows cross builds (i686, the shipping target, and x86_64 for the user-mode parts),
#      with the checks of the binaries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
"$root/scripts/install-deps.sh"

echo "== Linux build, address and undefined-behaviour sanitizers"
cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=address >/dev/null
cmake --build "$root/build/asan" -- -j"$jobs"
ctest --test-dir "$root/build/asan" --output-on-failure -j"$jobs"

echo "== Linux build, thread sanitizer"
cmake -S "$root" -B "$root/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=thread >/dev/null
# Only the test binaries that carry the "threads" label are built here.
cmake --build "$root/build/tsan" --target pnp_thread_tests machine_tests -- -j"$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir "$root/build/tsan" --output-on-failure -j"$jobs" -L threads

for arch in i686 x86_64; do
    echo "== Windows cross build, $arch"
    cmake -S "$root" -B "$root/build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw.cmake" >/dev/null
    cmake --build "$root/build/$arch" -- -j"$jobs"
    ctest --test-dir "$root/build/$arch" --output-on-failure
done
