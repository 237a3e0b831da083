#!/bin/sh
# Runs every benchmark of the project against a build folder: bench/run.sh BUILD_DIR
# A new benchmark is one more `run` line at the end.
set -eu

BUILD_DIR=${1:-build}
status=0

run() {
    program="$BUILD_DIR/bench/$1"
    if [ ! -x "$program" ]; then
        echo "missing benchmark $program (build first)" >&2
        status=1
        return
    fi
    "$program" || status=1
}

run bench_scanner
run bench_import
run bench_throughput
run bench_table
run bench_thumbnails
run bench_memory
run bench_rerun
run bench_smallphotos
run bench_manyfiles
run bench_check
run bench_watch

exit $status
