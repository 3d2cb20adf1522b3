#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Sourced by run.sh and test.sh.
set -euo pipefail

krv_need_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
    fi
}

KRV_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev ccache)
# The bench's format and label run the real file-system tools on its disk images.
KRV_BENCH_PACKAGES=(ntfs-3g exfatprogs mtools)
KRV_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev libtsan2 dosfstools "${KRV_BENCH_PACKAGES[@]}")
