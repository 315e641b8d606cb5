# Sourced by the tools: installs missing Debian packages, or says how to.
# Usage: ensure_debian_packages PACKAGE...

ensure_debian_packages() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "note: not a Debian system; assuming these are installed: $*" >&2
        return 0
    fi
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Missing Debian packages: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Install them as root, then run this again:"
        echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}"
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    # Other installs on the same machine hold the package lock for a while:
    # wait for it rather than fail.
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
}
