#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS
# Runs a libFuzzer target for a bounded time on a copy of its seeds; any
# crash, leak, timeout or out-of-memory finding fails the test and is kept in
# WORK_DIR for a look.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
[[ -x $fuzzer ]] || { echo "missing fuzzer $fuzzer"; exit 1; }
rm -rf "$work"; mkdir -p "$work/corpus" "$work/findings"
# Undefined behaviour must end the run as a finding, not scroll past.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
exec "$fuzzer" "$work/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$work/findings/"
