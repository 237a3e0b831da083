# Shared by the cluster tests: a tree of real photos and the checks of the shards' results.
# Sourced with $data (tests/data) and $work (a private folder) set.

# Makes $work/archive with the sample photos spread over nested folders; lists them in
# $work/expected (sorted).
make_tree() {
    i=0
    for photo in "$data"/jpeg/cameras/*.jpg; do
        case $((i % 3)) in
            0) folder=$work/archive ;;
            1) folder=$work/archive/2019/summer ;;
            *) folder=$work/archive/2020 ;;
        esac
        mkdir -p "$folder"
        cp "$photo" "$folder/photo$i.jpg"
        i=$((i + 1))
    done
    find "$work/archive" -name '*.jpg' | sort > "$work/expected"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

sources_of() {
    sed -n 's/.*"source":"\([^"]*\)".*/\1/p' "$@" | sort
}

# Every photo converted exactly once over the given result files, each JXL restoring its JPEG
# byte for byte.
check_converted_once() {
    total=$(wc -l < "$work/expected")
    [ "$(cat "$@" | grep -c '"status":"completed"')" -eq "$total" ] || fail "not every photo completed: $(cat "$@")"
    sources_of "$@" | cmp -s - "$work/expected" || fail "photos not taken exactly once: $(sources_of "$@")"
    while read -r jpeg; do
        djxl "${jpeg%.jpg}.jxl" "$work/restored.jpg" > /dev/null 2>&1 || fail "djxl failed on ${jpeg%.jpg}.jxl"
        cmp -s "$jpeg" "$work/restored.jpg" || fail "${jpeg%.jpg}.jxl does not restore $jpeg"
    done < "$work/expected"
}

# Every photo skipped exactly once over the given result files.
check_skipped_once() {
    total=$(wc -l < "$work/expected")
    [ "$(cat "$@" | grep -c '"status":"skipped"')" -eq "$total" ] || fail "not every photo skipped: $(cat "$@")"
    sources_of "$@" | cmp -s - "$work/expected" || fail "photos not taken exactly once: $(sources_of "$@")"
}
