#!/usr/bin/env bash
# Builds every tree and runs every test: native unit tests under ASan/UBSan,
# the fuzzers for a bounded time, and the Windows executables under Wine.
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"
ensure_packages
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}

echo "== fuzz tree (clang, libFuzzer)"
configure_tree fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DROVEND_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
build_tree fuzz
echo "== Windows trees (mingw-w64)"
configure_windows
build_tree win32
build_tree win64
echo "== native tree (g++, sanitizers)"
configure_tree native -DROVEND_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DROVEND_FUZZ_DIR="$BUILD/fuzz" -DROVEND_WIN64_DIR="$BUILD/win64" -DROVEND_WIN32_DIR="$BUILD/win32"
build_tree native

log=$BUILD/native/ctest.log
set +e
ctest --test-dir "$BUILD/native" --output-on-failure -j "$(nproc)" "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
set -e
summary=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -1 || true)
if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
  failed=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
  echo "$((total - failed)) passed, $failed failed"
else
  echo "0 passed, 1 failed"
  rc=1
fi
exit "$rc"
