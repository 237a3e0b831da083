#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need (clang and its runtime,
# which holds libFuzzer and the sanitizers, for `make fuzz` and `make check-sanitized`).
# Idempotent: apt runs only when a package is missing.
set -eu

PACKAGES="build-essential cmake pkg-config git ca-certificates \
qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev \
libjxl-tools dbus dbus-bin dbus-daemon libcanberra-dev \
desktop-file-utils findutils \
qt6-svg-dev libqt6svg6 qt6-qpa-plugins libjxl-dev fonts-noto-cjk \
xvfb xauth xdotool openbox x11-utils appstream dpkg-dev file libssl-dev \
help2man lintian man-db \
qt6-l10n-tools qt6-tools-dev qt6-translations-l10n \
slurm-wlm munge parallel python3 \
tumbler bubblewrap systemd \
clang libclang-rt-14-dev"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages:$missing" >&2
    echo "Run as root (or install them with sudo apt-get install$missing)." >&2
    exit 1
fi

echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
