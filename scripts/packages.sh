# The Debian packages each command needs, and an installer that only asks
# apt for what is missing (root, or sudo otherwise).
# GoogleTest is a build package: configuring the tree looks for it.
BUILD_PACKAGES="build-essential cmake ninja-build qt6-base-dev libgl-dev libgtest-dev libgmock-dev"
TEST_PACKAGES="clang-14 libfuzzer-14-dev"
DEMO_PACKAGES="fonts-dejavu-core"
# Cross compilers for the Windows build and Wine to run its tests.
WINDOWS_PACKAGES="g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine googletest"
# The trend window draws with Qt Charts.
BUILD_PACKAGES="$BUILD_PACKAGES qt6-charts-dev"
# tarnvik-log publishes to MQTT brokers with libmosquitto; its tests run
# their own Mosquitto broker and clients, and make their TLS certificates
# with openssl.
BUILD_PACKAGES="$BUILD_PACKAGES libmosquitto-dev pkg-config"
TEST_PACKAGES="$TEST_PACKAGES mosquitto mosquitto-clients openssl"
# The package check (cpack's shlibdeps, the desktop entry) and the network
# serial server test.
TEST_PACKAGES="$TEST_PACKAGES dpkg-dev desktop-file-utils socat"
# scripts/coverage.sh: gcc's line counts summed up per source file.
COVERAGE_PACKAGES="gcovr"

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}
