#!/bin/bash
# Runs a GoogleTest program as SHARDS processes at once, each with its share of
# the tests. Most tests wait on real time (threads, sockets, a worker's second)
# rather than the CPU, and a process for every test spends more on starting
# than on testing. Prints the output of a shard that failed.
#   run-shards.sh PROGRAM SHARDS [GTEST ARGUMENTS...]
set -uo pipefail
if [ $# -lt 2 ] || [ ! -x "$1" ]; then
    echo "usage: $0 PROGRAM SHARDS [GTEST ARGUMENTS...]" >&2
    exit 2
fi
program=$1 shards=$2
shift 2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
pids=()
for ((i = 0; i < shards; i++)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i "$program" "$@" >"$out/$i" 2>&1 &
    pids+=($!)
done
failed=0 passed=0
for ((i = 0; i < shards; i++)); do
    if ! wait "${pids[i]}"; then
        failed=$((failed + 1))
        echo "---- shard $i of $shards failed:"
        cat "$out/$i"
    fi
    count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$out/$i")
    passed=$((passed + ${count:-0}))
done
if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then
    echo "$(basename "$program"): no test ran" >&2
    exit 1
fi
echo "$(basename "$program"): $passed tests passed in $shards shards, $failed shards failed"
[ "$failed" -eq 0 ]
