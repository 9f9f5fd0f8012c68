# Shared by scripts/run, scripts/test and scripts/demo: package installation
# and the build. Source it; do not run it.

SORVANTO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Runs a command as root: directly when we are root, through sudo otherwise.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are not installed yet; updates the package
# lists first only when something is missing.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What the phone needs to build and run.
BUILD_PACKAGES=(build-essential cmake ninja-build ccache pkg-config
    qtbase5-dev qtmultimedia5-dev libqt5svg5-dev libqt5sql5-sqlite libqt5multimedia5-plugins
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libopus-dev libspandsp-dev libspeexdsp-dev libpulse-dev libwebrtc-audio-processing-dev libsrtp2-dev)

# What ./scripts/run needs besides on a machine with no display: a virtual X
# server and ImageMagick's import for screenshots.
HEADLESS_PACKAGES=(xvfb xauth imagemagick)

# What the tests, benchmarks and fuzz targets need besides.
TEST_PACKAGES=(pulseaudio pulseaudio-utils sox libsox-fmt-mp3 xvfb xauth xdotool imagemagick iproute2 util-linux
    sip-tester kamailio kamailio-tls-modules coturn baresip-core linphone-cli clang libclang-rt-14-dev
    libosip2-dev libspandsp-dev libssl-dev sqlite3 dpkg-dev mmdebstrap)

# ccache hits across checkouts in other folders (a CI clone, a second work tree).
export CCACHE_BASEDIR=$SORVANTO_ROOT
export CCACHE_NOHASHDIR=1

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir=$1; shift
    cmake -S "$SORVANTO_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

# built_executable BUILD_DIR TARGET: prints the path of TARGET's executable as
# CMake wrote it into BUILD_DIR/executables.txt at the last configure; fails,
# naming the path, when that file is not there (never falls back to another).
built_executable() {
    local list=$1/executables.txt path
    path=$(awk -F '\t' -v t="$2" '$1 == t { print $2; exit }' "$list" 2>/dev/null)
    if [ -z "$path" ]; then
        echo "$list names no executable \"$2\": configure $1 with CMake first." >&2
        return 1
    fi
    if [ ! -x "$path" ]; then
        echo "$path is missing: the build of \"$2\" did not make it." >&2
        return 1
    fi
    echo "$path"
}
