# Sourced by the scripts: makes sure the Debian packages a step needs are
# installed. As root it installs what is missing; otherwise it names it.
#   need_packages cmake ninja-build ...
need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >/dev/null || true
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || {
            echo "Could not install: ${missing[*]}" >&2
            return 1
        }
    else
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
}

BUILD_PACKAGES=(cmake ninja-build g++ make libgtest-dev googletest libbenchmark-dev)
ORACLE_PACKAGES=(hfsutils macutils)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64)
# The desktop program on a private X server: the end-to-end tests and the demo.
GUI_PACKAGES=(xvfb xdotool imagemagick fonts-liberation fonts-wine x11-utils python3)
