#!/bin/sh
# Builds BUILD_DIR (configured with PIKORA_SANITIZE, see the Makefile) and runs the test suites in
# it under AddressSanitizer and UndefinedBehaviorSanitizer. Reports are written to files rather than
# to standard error, so a finding in pikora-cli or pikora-thumbnailer, started by a test that only
# looks at their exit status, fails the run as surely as one in a test itself.
# Usage: scripts/check-sanitized.sh BUILD_DIR [JOBS] [ctest arguments...]
set -eu
cd "$(dirname "$0")/.."
build=$1
jobs=${2:-2}
[ $# -ge 2 ] && shift 2 || shift $#

cmake --build "$build" -j "$jobs"

reports=$(cd "$build" && pwd)/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
suppressions=$(pwd)/scripts/sanitizer-suppressions
# intercept_tls_get_addr=0: this clang's leak checker misreads glibc 2.36's dynamic TLS once a
# plugin (Qt's JPEG reader) is loaded, and its tracer dies with SIGSEGV at exit. Without the
# interception, dynamic TLS is not a root: a leak is reported more readily, never less.
ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:intercept_tls_get_addr=0"
LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1:suppressions=$suppressions/ubsan.supp"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" "$@") || status=$?

if [ -n "$(ls -A "$reports")" ]; then
    echo "Sanitizer reports:" >&2
    for report in "$reports"/*; do
        echo "== $report" >&2
        cat "$report" >&2
    done
    status=1
fi
exit $status
