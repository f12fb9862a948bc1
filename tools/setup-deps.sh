#!/bin/bash
# Puts on this Debian 12 machine what building and testing need, and survives
# a package mirror caught in the middle of a sync: an index that fails to
# download is asked for again a few times, then the lists there are serve.
# Only an install that fails stops the set-up, with one line that says why.
#   setup-deps.sh                     the packages and the Chinese locale
#   setup-deps.sh --download PKG DIR  PKG's .deb into DIR, never installed
# SETUP_I386=0|1 says whether this host runs 32-bit code (the probe decides
# otherwise); SETUP_TRIES and SETUP_PAUSE_SECONDS bound the retries.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tries=${SETUP_TRIES:-3}
pause=${SETUP_PAUSE_SECONDS:-5}
export DEBIAN_FRONTEND=noninteractive
HINT="a package mirror may be in the middle of a sync: try again in a few minutes"

PACKAGES=(cmake make g++ clang libclang-rt-14-dev python3 file googletest libgtest-dev
    libbenchmark-dev libssl-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine64 xvfb xauth xdotool imagemagick locales fonts-wqy-microhei fonts-wine
    xinetd nsis iproute2)

# On a kernel that runs no 32-bit code no i386 package serves anything (Wine
# runs the x86_64 build there), and asking for one can only fail the install.
host_runs_i386() {
    case "${SETUP_I386:-}" in
    1) return 0 ;;
    0) return 1 ;;
    *) "$here/host-runs-i386" ;;
    esac
}

# apt's own errors in one line.
apt_errors() {
    grep -E '^(E|Err):' "$1" | tr '\n' ' ' | sed 's/ *$//'
}

update_lists() {
    local try
    for ((try = 1; try <= tries; try++)); do
        apt-get update -q && return 0
        if [ "$try" -lt "$tries" ]; then
            echo "setup: apt-get update failed (try $try of $tries); again in $pause s" >&2
            sleep "$pause"
        fi
    done
    echo "setup: apt-get update failed $tries times; installing from the package lists there are" >&2
}

missing_packages() {
    local installed package
    installed=" $(dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null | sed -n 's/ .* installed$//p' | tr '\n' ' ') "
    for package; do
        [[ $installed == *" $package "* ]] || echo "$package"
    done
}

install_packages() {
    local wanted=("${PACKAGES[@]}") missing log
    if host_runs_i386; then
        wanted+=(wine32)
    fi
    missing=$(missing_packages "${wanted[@]}")
    if host_runs_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || { echo "setup: dpkg could not add the i386 architecture" >&2; return 1; }
    fi
    [ -n "$missing" ] || return 0
    update_lists
    log=$(mktemp)
    apt-get install -y -q --no-install-recommends "${wanted[@]}" 2>&1 | tee "$log"
    if [ "${PIPESTATUS[0]}" -ne 0 ]; then
        missing=$(missing_packages "${wanted[@]}" | tr '\n' ' ')
        echo "setup: could not install ${missing% }: $(apt_errors "$log") ($HINT)" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

download_package() {
    local package=$1 dir=$2 try log
    mkdir -p "$dir" || return 1
    log=$(mktemp)
    for ((try = 1; try <= tries; try++)); do
        if (cd "$dir" && apt-get download -q "$package") >"$log" 2>&1; then
            rm -f "$log"
            return 0
        fi
        if [ "$try" -lt "$tries" ]; then
            echo "setup: apt-get download $package failed (try $try of $tries); again in $pause s" >&2
            sleep "$pause"
            # The .deb named by an old list may be gone from a mirror that moved on.
            [ "$try" -eq 1 ] && update_lists >/dev/null 2>&1
        fi
    done
    echo "setup: could not download $package: $(apt_errors "$log") ($HINT)" >&2
    rm -f "$log"
    return 1
}

if [ "${1:-}" = --download ] && [ $# -eq 3 ]; then
    download_package "$2" "$3"
    exit
fi
if [ $# -ne 0 ]; then
    echo "usage: $0 [--download PACKAGE DIR]" >&2
    exit 2
fi
install_packages || exit 1
"$here/chinese-locale.sh"
