# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by run.sh and test.sh: makes sure the Debian packages named in
# "$@" are installed. As root it installs them with apt-get; otherwise it
# prints the exact apt-get line and stops.
mv70_need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages. Install them with:" >&2
        echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2 || apt-get update >&2
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# What every build needs (libmosquitto-dev: the bridge's MQTT client).
MV70_BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
                     libxcb1-dev fonts-ipafont-gothic qt6-qpa-plugins libmosquitto-dev)

# What run.sh needs on a machine without a display: a virtual X server, a way
# to press keys and click in it, and a screenshot.
MV70_HEADLESS_PACKAGES=(xvfb xdotool imagemagick)

# What the tests run against beyond the build: Debian's network serial
# server, for the ports named rfc2217:// and tcp://; and at-spi2-core's bus
# in a private D-Bus session with the window on a virtual X server, for the
# test that reads the window's accessibility tree as a screen reader does
# (the benchmark attaches the same kind of client to the stream's cost).
# Orca, the screen reader, speaks the window there (with the desktop test's
# openbox and xdotool), its speech written to its debug file.
# The bridge's MQTT face runs against Debian's broker (mosquitto, with
# mosquitto_passwd for its password file), watched by an MQTT client nobody
# here wrote (python3-paho-mqtt); openssl makes the broker's test certificate.
MV70_TEST_PACKAGES=(ser2net at-spi2-core python3-pyatspi dbus-daemon dbus-bin xvfb
                    orca mosquitto python3-paho-mqtt openssl)

# A PJLink client nobody here wrote, for mv70-bridge's PJLink face: the npm
# package `pjlink`, put into a build folder by mv70_npm_client. It runs on
# node; Debian's nodejs and npm are installed only when no npm is there (a
# node from elsewhere brings its own npm, which Debian's would conflict with).
MV70_NPM_PACKAGES=(nodejs npm)
MV70_NPM_PJLINK=pjlink@0.2.8
mv70_npm_client() {
    local build="$1"
    [ -f "$build/npm/node_modules/pjlink/package.json" ] && return 0
    command -v npm >/dev/null || mv70_need_packages "${MV70_NPM_PACKAGES[@]}"
    npm install --silent --no-audit --no-fund --prefix "$build/npm" "$MV70_NPM_PJLINK" >&2
}

# What the desktop test needs: a virtual X display, a window manager, a way
# to press keys and buttons in it, and xprop to see the manager is up.
MV70_DESKTOP_PACKAGES=(xvfb openbox xdotool x11-utils)

# What packing the .deb needs (CPack's DEB generator asks dpkg-shlibdeps and
# file which libraries the programs link), and lintian, which the package
# test runs on it.
MV70_PACKAGE_PACKAGES=(dpkg-dev file lintian)

# The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
MV70_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# The formatting check (scripts/check-format.sh): the formatter of .clang-format.
MV70_CHECK_PACKAGES=(clang-format-14)
