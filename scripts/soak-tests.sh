#!/bin/sh
# Runs the whole CTest suite again and again to catch tests that depend on the machine's speed.
#   scripts/soak-tests.sh BUILD_DIR RUNS [BUSY_LOOPS]
# BUSY_LOOPS shell loops keep the cores busy meanwhile (an oversubscribed machine is where
# timing guesses fail). Prints one line a run and a closing count; exits 1 if any run failed.
set -eu

build=${1:?build folder}
runs=${2:?number of runs}
busy=${3:-0}

loops=""
stop_loops() {
    for pid in $loops; do kill "$pid" 2>/dev/null || true; done
}
trap stop_loops EXIT INT TERM

i=0
while [ "$i" -lt "$busy" ]; do
    sh -c 'while :; do :; done' &
    loops="$loops $!"
    i=$((i + 1))
done

logs="$build/soak"
mkdir -p "$logs"
passed=0
failed=0
run=1
while [ "$run" -le "$runs" ]; do
    start=$(date +%s)
    if (cd "$build" && ctest -j 2 --output-on-failure) >"$logs/run-$run.log" 2>&1; then
        passed=$((passed + 1))
        verdict=passed
    else
        failed=$((failed + 1))
        verdict="FAILED: $(grep -E '^\s+[0-9]+ - ' "$logs/run-$run.log" | tr -s ' ' | tr '\n' ';')"
    fi
    echo "run $run ($busy busy loops): $verdict in $(( $(date +%s) - start )) s"
    run=$((run + 1))
done

echo "soak: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
