#!/bin/sh
# Runs every benchmark of the project against a build folder: bench/run.sh BUILD_DIR
set -eu

BUILD_DIR=${1:-build}
BENCHMARKS="bench_scanner"

status=0
for name in $BENCHMARKS; do
    program="$BUILD_DIR/bench/$name"
    if [ ! -x "$program" ]; then
        echo "missing benchmark $program (build first)" >&2
        status=1
        continue
    fi
    "$program" || status=1
done
exit $status
