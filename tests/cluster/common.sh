# Shared by the cluster tests: a tree of real photos and the checks of the shards' results.
# Sourced with $data (tests/data) and $work (a private folder) set.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

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

# Every photo taken exactly once over the result files given, each ending as STATUS; a completed
# photo's JXL restores its JPEG byte for byte. Usage: check_once STATUS RESULT...
check_once() {
    status=$1
    shift
    [ "$(cat "$@" | grep -c "\"status\":\"$status\"")" -eq "$(wc -l < "$work/expected")" ] ||
        fail "not every photo $status: $(cat "$@")"
    sed -n 's/.*"source":"\([^"]*\)".*/\1/p' "$@" | sort | cmp -s - "$work/expected" ||
        fail "photos not taken exactly once: $(cat "$@")"
    [ "$status" = completed ] || return 0
    while read -r jpeg; do
        djxl "${jpeg%.jpg}.jxl" "$work/restored.jpg" > /dev/null 2>&1 || fail "djxl failed on ${jpeg%.jpg}.jxl"
        cmp -s "$jpeg" "$work/restored.jpg" || fail "${jpeg%.jpg}.jxl does not restore $jpeg"
    done < "$work/expected"
}
