# Sourced by the top-level scripts: installs the Debian packages that are missing.

# What building and testing needs (the web console's tests drive Debian's Chromium).
VANTREL_TEST_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libasio-dev libsqlite3-dev
                       googletest libgtest-dev libgmock-dev libbenchmark-dev
                       libmosquitto-dev mosquitto nlohmann-json3-dev qt6-translations-l10n
                       libsystemd-dev libssl-dev python3 openssl libboost-dev libsodium-dev
                       chromium chromium-driver python3-selenium fonts-noto-cjk)
# What running the console needs on top: the CJK font the dialogs are drawn with. Qt's own
# translations (Chinese message-box buttons) are in the test set, since a test checks them.
VANTREL_RUN_PACKAGES=("${VANTREL_TEST_PACKAGES[@]}" fonts-noto-cjk)
# What building and checking the Debian package needs on top (scripts/package.sh).
VANTREL_PACKAGE_PACKAGES=("${VANTREL_TEST_PACKAGES[@]}" dpkg-dev file lintian desktop-file-utils
                          appstream systemd man-db)

# vantrel_ensure_packages pkg...: installs those of the given packages that are not installed.
vantrel_ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# vantrel_build <build-dir> [cmake options...]: configures (once) and builds everything.
vantrel_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$(nproc)"
}
