# The Debian and Ubuntu packages the project needs, by need, in one place.
# Sourced by the scripts; `ensure_packages NEED...` installs what is missing.
#
#   build     compile the player and its companions (quorvel-check,
#             quorvel-render: FFmpeg's libraries) and package them (cpack -G DEB)
#   headless  play a show without a display (virtual X server, screenshots, keys)
#   test      the test suite: GoogleTest, a window manager, headless Wayland
#             compositors (sway, weston) with grim, foot and the desktop
#             portal, sox, glslang and ffmpeg (the authoring tools' tests), the Windows
#             cross build and Wine, clang for the fuzz and sanitizer builds,
#             and what building and checking the .deb takes

packages_build=(
    cmake g++ make pkg-config dpkg-dev file
    libsfml-dev libopenal-dev libgl-dev libx11-dev libxcb1-dev libx11-xcb-dev libxcb-glx0-dev libxrandr-dev
    libxext-dev libwayland-dev
    libglib2.0-dev
    libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
)
packages_headless=(
    xvfb x11-utils x11-xserver-utils xdotool imagemagick libgl1-mesa-dri fonts-dejavu-core
)
packages_test=(
    libgtest-dev googletest
    wmctrl openbox sox libsox-fmt-all glslang-tools ffmpeg
    sway weston xwayland grim foot
    dbus-daemon pipewire xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk
    g++-mingw-w64-x86-64-posix wine64 zip unzip xz-utils
    clang libclang-rt-14-dev
    lintian
)

# The packages of the given needs, one per line.
list_packages() {
    local need
    for need in "$@"; do
        local -n group="packages_$need"
        printf '%s\n' "${group[@]}"
    done
}

# Installs the packages of the given needs that are not installed yet: with
# apt-get as root, else through sudo after saying what it installs. Without
# apt-get it prints the list and stops the calling script.
ensure_packages() {
    local wanted missing=() package
    wanted=$(list_packages "$@")
    if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
        echo "This is not a Debian or Ubuntu system (no apt-get): install the equivalents of these packages," >&2
        echo "then build by hand as the README says under \"Building by hand\":" >&2
        printf '    %s\n' $wanted >&2
        exit 1
    fi
    for package in $wanted; do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local run=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "These packages are missing and installing them needs root (no sudo here):" >&2
            echo "    ${missing[*]}" >&2
            exit 1
        fi
        echo "Installing with sudo apt-get: ${missing[*]}"
        run=(sudo)
    else
        echo "Installing with apt-get: ${missing[*]}"
    fi
    export DEBIAN_FRONTEND=noninteractive
    # Progress stays visible: this is the step that can take minutes.
    "${run[@]}" apt-get update || { echo "apt-get update failed: see above." >&2; exit 1; }
    "${run[@]}" apt-get install -y "${missing[@]}" ||
        { echo "Installing ${missing[*]} failed: see above." >&2; exit 1; }
}
