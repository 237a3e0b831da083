#!/bin/sh
# Installs the build into a scratch root and checks what a desktop reads of it (launcher, metainfo,
# icons, manual pages, shell completion, thumbnailer), then builds the Debian package, checks what
# it declares and has lintian check it. Usage: check-install.sh BUILD_DIR APP_ID
set -eu

build=$1
appid=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR="$root/dest" cmake --install "$build" --prefix /usr >/dev/null

usr="$root/dest/usr"
installed="bin/pikora bin/pikora-cli bin/pikora-thumbnailer share/man/man1/pikora.1.gz share/man/man1/pikora-cli.1.gz
    share/man/man1/pikora-thumbnailer.1.gz share/bash-completion/completions/pikora-cli share/thumbnailers/pikora-jxl.thumbnailer lib/systemd/user/pikora-watch.service
    share/doc/pikora/changelog.gz share/doc/pikora/copyright share/applications/$appid.desktop share/metainfo/$appid.metainfo.xml
    share/icons/hicolor/scalable/apps/$appid.svg share/icons/hicolor/48x48/apps/$appid.png share/icons/hicolor/256x256/apps/$appid.png"
for file in $installed; do
    [ -f "$usr/$file" ] || fail "not installed: /usr/$file"
done

# The user unit starts pikora-cli where the install put it.
DESTDIR="$root/local" cmake --install "$build" --prefix /usr/local >/dev/null
for place in dest:/usr local:/usr/local; do
    prefix=${place#*:}
    grep -qx "ExecStart=$prefix/bin/pikora-cli watch --saved -q" "$root/${place%%:*}$prefix/lib/systemd/user/pikora-watch.service" ||
        fail "the user unit installed below $prefix does not start $prefix/bin/pikora-cli"
done

desktop="$usr/share/applications/$appid.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $appid.desktop"
grep -qx 'Exec=pikora %U' "$desktop" || fail "the launcher does not pass the opened files"
grep -qx 'MimeType=image/jpeg;image/jxl;x-scheme-handler/pikora;x-scheme-handler/lumevo;' "$desktop" ||
    fail "the launcher does not claim JPEG, JPEG XL and the two URL schemes"
appstreamcli validate --no-net "$usr/share/metainfo/$appid.metainfo.xml" >/dev/null ||
    fail "appstreamcli rejects the metainfo"

# The manual pages render without a warning and carry the options of each program's --help (which
# needs no display, and is in English as help2man runs it: tst_translations).
for page in pikora:--compress pikora-cli:--originals pikora-thumbnailer:--size; do
    name=${page%%:*}
    option=${page#*:}
    file="$usr/share/man/man1/$name.1.gz"
    gzip -t "$file" || fail "$name.1.gz is not gzip"
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -P cat -l "$file" >"$root/man.txt" 2>"$root/man.err" ||
        fail "man cannot render $name(1): $(cat "$root/man.err")"
    [ ! -s "$root/man.err" ] || fail "man warns about $name(1): $(cat "$root/man.err")"
    grep -Eq "^ +$name +- " "$root/man.txt" || fail "$name(1) does not name $name"
    grep -q -- "$option" "$root/man.txt" || fail "$name(1) does not list $option"
    ! LC_ALL=C.UTF-8 grep -qP '\p{Han}' "$root/man.txt" || fail "$name(1) is not in English"
done

# The manual pages and the README name the one file the programs keep their settings in.
mkdir -p "$root/settings"
cp "$(dirname "$0")/../data/jpeg/cameras/Canon_40D.jpg" "$root/settings/photo.jpg"
env -u XDG_CONFIG_HOME HOME="$root/settings/home" "$usr/bin/pikora-cli" compress -e 1 "$root/settings/photo.jpg" \
    >/dev/null || fail "pikora-cli compress fails"
written=$(cd "$root/settings/home" && find .config -type f ! -name '*.lock' | sed 's|^|~/|')
for named in "$(zcat "$usr/share/man/man1/pikora.1.gz")" "$(zcat "$usr/share/man/man1/pikora-cli.1.gz")" \
    "$(cat "$(dirname "$0")/../../README.md")"; do
    [ "$(echo "$named" | grep -oE -- '~/\.config/pikora/[A-Za-z0-9._-]*' | sort -u)" = "$written" ] ||
        fail "pikora(1), pikora-cli(1) and README.md must name $written, the one settings file written"
done

# Completion of pikora-cli: loads in a plain bash and completes commands, option values and paths.
# Prints the completions of the last of the words given, one per line.
complete_words() {
    bash --norc --noprofile -c '
        . "$1" || exit 1
        shift
        registered=$(complete -p pikora-cli) || exit 1
        function=${registered#*-F }
        function=${function%% *}
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        "$function" pikora-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' complete-test "$usr/share/bash-completion/completions/pikora-cli" "$@"
}
[ "$(complete_words pikora-cli c | tr '\n' ' ')" = "compress check check-update " ] ||
    fail "pikora-cli c completes to $(complete_words pikora-cli c)"
[ "$(complete_words pikora-cli compress --originals '' | tr '\n' ' ')" = "keep trash delete " ] ||
    fail "--originals does not offer keep, trash and delete"
mkdir -p "$root/photos/a folder"
: >"$root/photos/a photo.jpg"
(cd "$root/photos" && [ "$(complete_words pikora-cli compress 'a ' | sort | tr '\n' '|')" = "a folder|a photo.jpg|" ]) ||
    fail "paths are not completed"
[ -z "$(complete_words pikora-cli stats '')" ] || fail "stats offers paths"
# Each command's --help names every option it takes, and completion offers exactly those.
for command in compress restore watch verify check scan stats check-update; do
    "$usr/bin/pikora-cli" "$command" --help >"$root/usage.txt" || fail "pikora-cli $command --help fails"
    listed=$(grep '^  -' "$root/usage.txt" | cut -c1-31 | grep -oE '(^|[ ,])--?[a-z0-9][a-z0-9-]*' | tr -d ' ,' |
        sort -u | tr '\n' ' ')
    offered=$(complete_words pikora-cli "$command" - | sort -u | tr '\n' ' ')
    [ -n "$listed" ] && [ "$listed" = "$offered" ] ||
        fail "pikora-cli $command: --help lists '$listed', completion offers '$offered'"
done

# The thumbnailer entry as file managers read it (its Exec line run as they run it: tst_thumbnailer).
entry="$usr/share/thumbnailers/pikora-jxl.thumbnailer"
[ "$(grep -v '^#' "$entry" | grep . | sed 's/=.*//' | tr '\n' ' ')" = "[Thumbnailer Entry] TryExec Exec MimeType " ] ||
    fail "the thumbnailer entry is not one [Thumbnailer Entry] group of TryExec, Exec and MimeType"
tryexec=$(sed -n 's/^TryExec=//p' "$entry")
[ -x "$usr/bin/$tryexec" ] || fail "TryExec names $tryexec, which is not installed"
grep -q "^Exec=$tryexec " "$entry" || fail "Exec runs another program than TryExec"
grep -qx 'MimeType=image/jxl;' "$entry" || fail "the thumbnailer entry does not claim image/jxl"
# It links no network or session-bus library.
objdump -p "$usr/bin/pikora-thumbnailer" | grep NEEDED | grep -q -e Network -e DBus -e Widgets &&
    fail "pikora-thumbnailer links $(objdump -p "$usr/bin/pikora-thumbnailer" | grep NEEDED | tr -s ' ')"

# The copyright file is machine-readable and says what the metainfo says.
copyright="$usr/share/doc/pikora/copyright"
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not machine-readable"
license=$(sed -n 's:.*<project_license>\(.*\)</project_license>.*:\1:p' "$usr/share/metainfo/$appid.metainfo.xml")
grep -qx "License: $license" "$copyright" || fail "the copyright file does not say License: $license"

# English first and Chinese as its zh_CN translation, in the launcher and the metainfo (the
# programs' own language: tst_translations).
for key in GenericName Comment Keywords; do
    grep -q "^$key=" "$desktop" && grep -q "^$key\[zh_CN\]=" "$desktop" ||
        fail "the launcher lacks $key in English or in Chinese"
done
grep -q '<p xml:lang="zh_CN">' "$usr/share/metainfo/$appid.metainfo.xml" || fail "the metainfo has no Chinese description"

# The package: library dependencies found by dpkg-shlibdeps, the tools named by hand.
cpack --config "$build/CPackConfig.cmake" -B "$root/package" >/dev/null || fail "cpack failed"
set -- "$root"/package/pikora_*_*.deb
[ -f "$1" ] || fail "no pikora_<version>_<arch>.deb was built"
depends=$(dpkg-deb -f "$1" Depends)
for dependency in libjxl-tools xdg-utils qt6-translations-l10n libqt6widgets6 libqt6dbus6 libc6; do
    echo "$depends" | grep -q "$dependency" || fail "Depends lacks $dependency: $depends"
done
contents=$(dpkg-deb -c "$1")
for file in $installed; do
    echo "$contents" | grep -q " ./usr/$file$" || fail "the package lacks /usr/$file"
done
version=$(dpkg-deb -f "$1" Version)
zcat "$usr/share/doc/pikora/changelog.gz" >"$root/changelog"
[ "$(dpkg-parsechangelog -l "$root/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's latest entry is not version $version"

# Debian's own checker: informational tags are fine, no warning and no error.
lintian --fail-on error,warning --display-info "$1" || fail "lintian reports errors or warnings"

echo "1 passed, 0 failed"
