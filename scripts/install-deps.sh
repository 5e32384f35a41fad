#!/usr/bin/env bash
# Installs what the build, the tests and the program need, and nothing when all is there.
# Shared by run.sh, test.sh and bench.sh; needs root or sudo only when something is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev libqt6printsupport6 libqcustomplot-dev libqcustomplot2.1-qt6
    qt6-svg-dev libqt6svg6                # the pictures are drawn as SVG
    qt6-translations-l10n                 # Qt's own buttons and dialogs in Russian
    googletest libgtest-dev
    clang-14 libclang-rt-14-dev          # libFuzzer for the framer fuzz target
    fonts-dejavu-core                     # Cyrillic glyphs for the Russian interface
    fonts-liberation2                     # Liberation Sans: Arial's metrics for the value panel
    locales                               # ru_RU.UTF-8, so tests can check a comma locale
    libcpp-httplib-dev                    # serving the Prometheus metrics, writing to InfluxDB
    libmosquitto-dev                      # publishing the live state on MQTT
    zlib1g-dev                            # gzip of the bodies sent to InfluxDB
    libc-l10n                             # the system's reasons (strerror) in Russian
    tzdata                                # summer-time rules: archives' local times to instants
)

# Tests run under ru_RU.UTF-8, whose decimal separator is a comma.
ensure_locale() {
    locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' && return 0
    echo "Generating the locale ru_RU.UTF-8"
    "${sudo[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen >/dev/null
}

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    if [[ ${#sudo[@]} -gt 0 ]] && ! command -v sudo >/dev/null; then
        echo "Need root or sudo to install: ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
ensure_locale
