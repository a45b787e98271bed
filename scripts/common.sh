# SPDX-License-Identifier: GPL-3.0-or-later
# Shared helpers for scripts/run and scripts/test. Source it, do not run it.
set -euo pipefail
MIRAL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

miral_sudo() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Install whatever from scripts/packages.txt is missing; skip apt entirely when
# everything is already there, so that a warm run costs nothing.
miral_install_packages() {
    local missing=()
    local pkg
    while read -r pkg; do
        case "$pkg" in ''|'#'*) continue ;; esac
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done < "$MIRAL_ROOT/scripts/packages.txt"
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "miral: installing ${missing[*]}"
        miral_sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        miral_sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# A locale with a decimal comma, for the tests that check that numbers are
# still read and written with a point.
miral_ensure_comma_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
        miral_sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || \
            echo "miral: could not generate the de_DE.UTF-8 locale; its tests will be skipped"
    fi
}

miral_cmake_launcher() {
    if command -v ccache >/dev/null 2>&1; then
        echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    fi
}

miral_jobs() {
    nproc 2>/dev/null || echo 2
}
