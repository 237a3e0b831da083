#!/bin/sh
# GNU parallel runs three shards of an archive: every photo is converted exactly once and
# restores byte for byte; a second run, fed the photos by find -print0, skips them all.
# usage: parallel_shards.sh PIKORA_CLI TEST_DATA
set -eu
cli=$1
data=$2
command -v parallel > /dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
. "$(dirname "$0")/common.sh"
export HOME="$work/home"
mkdir -p "$HOME"
make_tree

parallel --will-cite -j 3 "$cli" compress --json -e 1 --shard '{}/3' "$work/archive" '>' "$work/first-{}.jsonl" ::: 0 1 2
check_once completed "$work"/first-*.jsonl

find "$work/archive" -name '*.jpg' -print0 > "$work/list"
parallel --will-cite -j 3 "$cli" compress --json -0 --files-from "$work/list" --shard '{}/3' \
    '>' "$work/second-{}.jsonl" ::: 0 1 2
check_once skipped "$work"/second-*.jsonl
echo "parallel: $(wc -l < "$work/expected") photos in 3 shards, converted once, skipped on the second run"
