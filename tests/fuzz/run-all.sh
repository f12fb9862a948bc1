#!/bin/bash
# Runs every fuzz target of a build for a bounded time each; any finding fails.
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
for target in "${targets[@]}"; do
    name=$(basename "$target")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus" "$build/findings"
    seeds=()
    [ -d "$here/seeds/$name" ] && seeds=("$here/seeds/$name")
    echo "fuzzing $name for ${seeds:+seeded, }$seconds s"
    timeout $((seconds + 60)) "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/findings/$name-" -print_final_stats=0 "$corpus" "${seeds[@]}" 2>"$build/findings/$name.log" || {
        tail -40 "$build/findings/$name.log" >&2
        echo "fuzz target $name found a fault; the input is in $build/findings" >&2
        exit 1
    }
done
echo "fuzz tier: ${#targets[@]} targets ran ${seconds} s each without a finding"
