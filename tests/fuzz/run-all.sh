#!/bin/bash
# Runs every fuzz target of a build for a bounded time each, as many at once as
# there are cores; any finding fails.
#   run-all.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1 seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
targets=("$build"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz tier cannot run: no fuzz targets in $build" >&2
    exit 1
fi

fuzz() {
    local target=$1 name corpus seeds=()
    name=$(basename "$target")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus" "$build/findings"
    [ -d "$here/seeds/$name" ] && seeds=("$here/seeds/$name")
    echo "fuzzing $name for ${seeds:+seeded, }$seconds s"
    timeout $((seconds + 60)) "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/findings/$name-" -print_final_stats=0 "$corpus" "${seeds[@]}" \
        2>"$build/findings/$name.log" && return
    tail -40 "$build/findings/$name.log" >&2
    echo "fuzz target $name found a fault; the input is in $build/findings" >&2
    return 1
}

jobs=$(nproc)
failed=0
running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz "$target" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
[ "$failed" = 0 ] || exit 1
echo "fuzz tier: ${#targets[@]} targets ran ${seconds} s each without a finding"
