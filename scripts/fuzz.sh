#!/bin/sh
# Runs each fuzz target of BUILD_DIR for SECONDS, seeded from tests/data; what a run finds that is
# new stays in BUILD_DIR/fuzz/corpus for the next run. A crash, a failed check or an input that
# takes longer than the time-out stops the run with the input saved in BUILD_DIR/fuzz/findings.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS]
set -eu
cd "$(dirname "$0")/.."
build=$1
seconds=${2:-60}
data=tests/data
out=$build/fuzz
mkdir -p "$out/findings" "$out/logs"

# target: seed folders (read only; libFuzzer walks them recursively)
seeds() {
    case $1 in
    jpegheader | jpegdiagnosis) echo "$data/jpeg" ;;
    jxlheader | thumbnail) echo "$data/jxl" ;;
    filesignature) echo "$data/jpeg $data/jxl $data/feeds" ;;
    updatefeed) echo "$data/feeds" ;;
    esac
}

passed=0
failed=0
for target in jpegheader jpegdiagnosis jxlheader filesignature updatefeed thumbnail; do
    corpus=$out/corpus/$target
    mkdir -p "$corpus"
    dict=""
    [ -f "fuzz/$target.dict" ] && dict="-dict=fuzz/$target.dict"
    log=$out/logs/$target.log
    # shellcheck disable=SC2046,SC2086
    # intercept_tls_get_addr=0: see check-sanitized.sh (this leak checker misreads glibc's dynamic
    # TLS once Qt's JPEG plugin is loaded, and its tracer dies at exit).
    if ! ASAN_OPTIONS="detect_leaks=1:intercept_tls_get_addr=0" "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$out/findings/$target-" $dict \
            "$corpus" $(seeds "$target") >"$log" 2>&1; then
        echo "fuzz_$target: FOUND A PROBLEM (input in $out/findings/, log $log)"
        tail -n 60 "$log"
        failed=$((failed + 1))
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: $runs executions in ${seconds} s, nothing found"
    passed=$((passed + 1))
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
