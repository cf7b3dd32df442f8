# Shared set-up of the project's scripts; sourced, not run.
# ensure_packages PKG...   installs the Debian packages that are missing (needs root)
# configure_and_build DIR [CMAKE ARGS...]   configures once, then builds incrementally

ROOT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

# What every build needs: compiler, CMake, Qt 5, a font for the Chinese texts and Qt's own
# texts in Chinese.
BASE_PACKAGES=(g++ make cmake qtbase5-dev qtbase5-dev-tools fonts-wqy-microhei qttranslations5-l10n)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}" >&2
        echo "Install them as root: apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || return 1
    apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
}

configure_and_build() {
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$ROOT_DIR" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" || return 1
    fi
    cmake --build "$dir" -j "$JOBS" "${BUILD_TARGETS[@]/#/--target=}" || return 1
}
