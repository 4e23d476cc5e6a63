#!/usr/bin/env bash
# Builds the dialogs' tests (views, scan dialog, counting worker) with ThreadSanitizer in a build folder
# of their own and runs them; any data race fails the run.
# Usage: scripts/tsan.sh [BUILD_DIR]   (default: build/linux-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build/linux-tsan}"
flags="-fsanitize=thread -fno-omit-frame-pointer -g"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
tests=(ui_test)
cmake --build "$dir" --target "${tests[@]}" -- -j"${JOBS:-2}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
for t in "${tests[@]}"; do
  echo "=== $t (ThreadSanitizer)"
  "$dir/bin/$t" --gtest_brief=1
done
