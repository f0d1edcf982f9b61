# Installs the Debian packages the build and the tests need, when some are missing.
# As root it runs apt-get itself; otherwise it prints the one command to run and stops.

quillon_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools
    libsndfile1-dev libsdl2-dev libebur128-dev libsqlite3-dev
    fonts-dejavu-core
)
quillon_test_packages=(
    xvfb xauth xdotool x11-utils openbox playerctl sox
    dbus-daemon dbus-bin
    pcmanfm at-spi2-core libglib2.0-bin python3 imagemagick
    desktop-file-utils appstream man-db dpkg-dev file lintian
    strace fuse3 python3-fusepy
)

quillon_install() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "Missing Debian packages. Run:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

quillon_build() {
    local dir=$1
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$dir"
}
