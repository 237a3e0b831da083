#!/bin/sh
# Compresses a temporary copy of the bundled sample photos, restores them, and checks that
# every restored JPEG is byte-identical to its original. Usage: scripts/demo.sh [BUILD_DIR]
set -eu

BUILD_DIR=${1:-build}
CLI="$BUILD_DIR/src/pikora-cli"
SAMPLES="$(dirname "$0")/../tests/data/jpeg/cameras"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The demo keeps its settings and counters to itself.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"

mkdir -p "$work/photos" "$work/originals"
for photo in Canon_40D.jpg Nikon_D70.jpg Pentax_K10D.jpg Samsung_Digimax_i50_MP3.jpg Reconyx_HC500_Hyperfire.jpg; do
    cp "$SAMPLES/$photo" "$work/photos/"
    cp "$SAMPLES/$photo" "$work/originals/"
done

echo "== Compressing $(ls "$work/photos" | wc -l) sample photos (originals deleted after verification)"
"$CLI" compress --originals delete "$work/photos"
echo
echo "== The folder now holds"
ls -l "$work/photos" | tail -n +2
echo
echo "== Restoring the original JPEGs"
"$CLI" restore --originals delete "$work/photos"
echo
for original in "$work/originals"/*.jpg; do
    cmp "$original" "$work/photos/$(basename "$original")"
done
echo "All $(ls "$work/originals" | wc -l) restored photos are byte-identical to their originals."
echo
"$CLI" stats
