#!/bin/sh
# Builds the fuzz targets and runs each for SECONDS (default 60) under
# AddressSanitizer and UBSan, starting from its corpus in fuzz/corpus/. The
# corpus is copied to a scratch folder first, so what the run discovers does
# not end up in the repository. Fails when any target crashes, leaks, hangs
# on one input, or runs out of memory; its log and reproducer are kept.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# FUZZ_BUILD_DIR  build folder (default build-fuzz)
# FUZZ_JOBS       targets run at once (default 1)
# FUZZ_RSS_MB     memory limit of one target (default 2048)
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-1}
rss=${FUZZ_RSS_MB:-2048}

if [ $# -gt 0 ]; then
    targets=$*
else
    targets=$(cd "$root/fuzz" && ls -- *Fuzz.cpp | sed 's/\.cpp$//')
fi

cmake -S "$root" -B "$build" -DCORVANE_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

scratch=$(mktemp -d "${TMPDIR:-/tmp}/corvane-fuzz.XXXXXX")
echo "scratch folder: $scratch"

# Runs one target; its status goes to $scratch/<target>/status.
run_one() {
    name=$1
    dir=$scratch/$name
    mkdir -p "$dir/corpus" "$dir/artifacts"
    if [ -d "$root/fuzz/corpus/$name" ]; then
        cp -R "$root/fuzz/corpus/$name/." "$dir/corpus/"
    fi
    status=0
    "$build/bin/$name" "$dir/corpus" -max_total_time="$seconds" -rss_limit_mb="$rss" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$dir/artifacts/" >"$dir/log" 2>&1 || status=$?
    echo "$status" >"$dir/status"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
    if [ "$status" -eq 0 ]; then
        echo "$name: clean, ${runs:-?} runs in ${seconds}s"
    else
        echo "$name: FAILED (exit $status); log $dir/log, reproducer in $dir/artifacts/"
    fi
}

running=0
for name in $targets; do
    run_one "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait
        running=0
    fi
done
wait

failed=0
for name in $targets; do
    if [ "$(cat "$scratch/$name/status" 2>/dev/null || echo 1)" -ne 0 ]; then
        failed=1
        tail -n 40 "$scratch/$name/log" >&2
    fi
done
if [ "$failed" -ne 0 ]; then
    echo "fuzzing found faults; see $scratch" >&2
    exit 1
fi
rm -rf "$scratch"
echo "all targets clean"
