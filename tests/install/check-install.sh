#!/bin/sh
# Installs the build into a scratch root and checks what a desktop reads of it, then builds the
# Debian package and checks what it declares. Usage: check-install.sh BUILD_DIR APP_ID
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

for file in bin/pikora bin/pikora-cli \
    share/applications/$appid.desktop \
    share/metainfo/$appid.metainfo.xml \
    share/icons/hicolor/scalable/apps/$appid.svg \
    share/icons/hicolor/48x48/apps/$appid.png \
    share/icons/hicolor/256x256/apps/$appid.png; do
    [ -f "$root/dest/usr/$file" ] || fail "not installed: /usr/$file"
done

desktop="$root/dest/usr/share/applications/$appid.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $appid.desktop"
grep -qx 'Exec=pikora %U' "$desktop" || fail "the launcher does not pass the opened files"
grep -qx 'MimeType=image/jpeg;image/jxl;x-scheme-handler/pikora;x-scheme-handler/lumevo;' "$desktop" ||
    fail "the launcher does not claim JPEG, JPEG XL and the two URL schemes"
appstreamcli validate --no-net "$root/dest/usr/share/metainfo/$appid.metainfo.xml" >/dev/null ||
    fail "appstreamcli rejects the metainfo"

# English first and Chinese as its zh_CN translation, in the launcher, the metainfo and the
# installed command line (run with a home of its own, so no stored language choice applies).
for key in GenericName Comment Keywords; do
    grep -q "^$key=" "$desktop" && grep -q "^$key\[zh_CN\]=" "$desktop" ||
        fail "the launcher lacks $key in English or in Chinese"
done
grep -q '<p xml:lang="zh_CN">' "$root/dest/usr/share/metainfo/$appid.metainfo.xml" ||
    fail "the metainfo has no Chinese description"
cli() {
    env -u LANGUAGE -u LC_ALL -u LC_MESSAGES -u LANG HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" \
        "$@" "$root/dest/usr/bin/pikora-cli" scan "$root/missing" 2>&1 || true
}
cli LANG=en_US.UTF-8 | grep -q "File not found: $root/missing" || fail "pikora-cli does not speak English under en_US"
cli LC_ALL=C.UTF-8 | grep -q "找不到指定文件: $root/missing" || fail "pikora-cli does not speak Chinese under C"
cli LANG=zh_CN.UTF-8 | grep -q "找不到指定文件: $root/missing" || fail "pikora-cli does not speak Chinese under zh_CN"

# The package: library dependencies found by dpkg-shlibdeps, the tools named by hand.
cpack --config "$build/CPackConfig.cmake" -B "$root/package" >/dev/null || fail "cpack failed"
set -- "$root"/package/pikora_*_*.deb
[ -f "$1" ] || fail "no pikora_<version>_<arch>.deb was built"
depends=$(dpkg-deb -f "$1" Depends)
for dependency in libjxl-tools xdg-utils libqt6widgets6 libqt6dbus6 libc6; do
    echo "$depends" | grep -q "$dependency" || fail "Depends lacks $dependency: $depends"
done
contents=$(dpkg-deb -c "$1")
for file in bin/pikora bin/pikora-cli share/applications/$appid.desktop; do
    echo "$contents" | grep -q " ./usr/$file$" || fail "the package lacks /usr/$file"
done

echo "1 passed, 0 failed"
