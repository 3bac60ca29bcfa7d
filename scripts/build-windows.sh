#!/usr/bin/env bash
# Builds the Windows program from source on Debian and packs it:
#   build-windows/quorvel-<version>-win64.zip
#
# The libraries come from Debian's source packages (their upstream tarballs,
# checked against Debian's signed indexes), cross-compiled with mingw-w64:
# libogg, libvorbis, flac and freetype as static libraries, OpenAL Soft and
# SFML 2.5.1 as DLLs. They are installed into a prefix that is kept in
# $QUORVEL_WINDOWS_CACHE (default /var/cache/quorvel-windows as root, else
# ~/.cache/quorvel-windows), under a key made of this recipe and the
# compiler's version: a second run reuses it and takes seconds. The
# project's own CMake then builds quorvel.exe against it. Missing Debian
# packages are installed first (as root, or through sudo).
#
# QUORVEL_WINDOWS_OUT names another output folder (default build-windows/).
# A run holds a lock on the cache, so two runs never build into it at once;
# the zip is replaced only once the new one is complete.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${QUORVEL_WINDOWS_OUT:-$root/build-windows}
jobs=$(nproc)
# An interrupt stops the whole script at once, not just the step it was in.
trap 'echo "Interrupted." >&2; exit 130' INT TERM
. "$root/scripts/packages.sh"

packages_windows=(g++-mingw-w64-x86-64-posix cmake make xz-utils zip ca-certificates)
ensure_packages windows

# The recipe: source package, version, the suite that serves it. Bookworm's
# openal-soft source files are not served, so OpenAL Soft comes from trixie.
recipe=(
    "libogg 1.3.5-3 bookworm"
    "libvorbis 1.3.7-1 bookworm"
    "flac 1.4.2+ds-2 bookworm"
    "freetype 2.12.1+dfsg-5+deb12u4 bookworm"
    "openal-soft 1:1.24.2-1 trixie"
    "libsfml 2.5.1+dfsg-2 bookworm"
)
compiler=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)
key=$( (printf '%s\n' "${recipe[@]}" "$compiler"; sed -n '/^build_libraries()/,/^}/p' "$0") | sha256sum | cut -c1-16)
if [ "$(id -u)" -eq 0 ]; then default_cache=/var/cache/quorvel-windows; else default_cache=$HOME/.cache/quorvel-windows; fi
cache=${QUORVEL_WINDOWS_CACHE:-$default_cache}/$key
prefix=$cache/prefix

step() { printf '== %s\n' "$*"; }

# Fetches the upstream tarballs of the recipe into $1 through a private apt
# configuration (its own deb-src list and index folder), removed afterwards;
# the system's apt sources are left alone.
fetch_sources() {
    local sources=$1 apt
    apt=$(mktemp -d)
    trap 'rm -rf "$apt"' RETURN
    mkdir -p "$apt/lists/partial"
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg mirror
    mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    mirror=${mirror:-http://deb.debian.org/debian}
    local suite
    for suite in bookworm trixie; do
        echo "deb-src [signed-by=$keyring] $mirror $suite main" >>"$apt/sources.list"
    done
    # As root, apt would hand the downloads to its sandbox user, who cannot
    # write into these private folders, and warn about each one.
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$apt/lists" -o Debug::NoLocking=1)
    [ "$(id -u)" -ne 0 ] || options+=(-o APT::Sandbox::User=root)
    step "fetching the source indexes (bookworm, trixie)"
    apt-get "${options[@]}" update
    local entry package version suite
    for entry in "${recipe[@]}"; do
        read -r package version suite <<<"$entry"
        [ "$suite" = bookworm ] || echo "   $package: not served for bookworm here, taking $version from $suite"
        step "fetching $package $version"
        # Only the upstream tarballs are needed, so only they are asked for:
        # Debian's own packaging files are not always served.
        local files
        files=$(apt-cache "${options[@]}" showsrc "$package" | awk -v version="$version" '
            /^Package: / { right = 0; dir = ""; n = 0 }
            /^Version: / { right = $2 == version }
            /^Directory: / { dir = $2 }
            /^Checksums-Sha256:/ { on = 1; next }
            /^[^ ]/ { on = 0 }
            on && $3 ~ /\.orig\.tar\.[a-z0-9]+$/ { sums[++n] = $1; names[n] = $3 }
            /^$/ { if (right) for (i = 1; i <= n; ++i) print sums[i], names[i], dir; right = 0; n = 0 }
            END { if (right) for (i = 1; i <= n; ++i) print sums[i], names[i], dir }' | sort -u)
        [ -n "$files" ] || { echo "No upstream tarball of $package $version is listed." >&2; exit 1; }
        local sum name dir
        while read -r sum name dir; do
            /usr/lib/apt/apt-helper "${options[@]}" download-file "$mirror/$dir/$name" "$sources/$name" \
                "SHA256:$sum" >/dev/null ||
                { echo "$name could not be fetched from $mirror/$dir." >&2; exit 1; }
            echo "$sum  $sources/$name" | sha256sum --quiet -c - ||
                { echo "$name did not arrive intact." >&2; exit 1; }
        done <<<"$files"
    done
}

unpack() { # unpack SOURCES PACKAGE DIR: the package's upstream tarball (not its extras) into DIR
    local tarball=
    local candidate
    for candidate in "$1/$2"_*.orig.tar.*; do
        case $candidate in *.asc | *ft2demos* | *ft2docs*) continue ;; esac
        tarball=$candidate
        break
    done
    [ -n "$tarball" ] && [ -e "$tarball" ] || { echo "No tarball of $2 in $1." >&2; exit 1; }
    mkdir -p "$3"
    tar -xf "$tarball" -C "$3" --strip-components=1
}

build_libraries() {
    local sources=$1 work=$2
    local toolchain=$root/cmake/mingw-w64.cmake
    local common=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" -Wno-dev)
    # No GCC runtime DLLs to ship: libgcc and libstdc++ go into each DLL.
    local shared=(-DBUILD_SHARED_LIBS=ON "-DCMAKE_SHARED_LINKER_FLAGS=-static-libgcc -static-libstdc++")
    local static=(-DBUILD_SHARED_LIBS=OFF)
    cmake_build() { # cmake_build NAME SOURCE-DIR OPTIONS...
        local name=$1 source=$2
        shift 2
        step "building $name"
        cmake -S "$source" -B "$work/build-$name" "${common[@]}" "$@" >"$work/$name-configure.log" 2>&1 ||
            { cat "$work/$name-configure.log" >&2; exit 1; }
        # The whole log is kept; a failure shows its end, and the status is the build's own.
        if ! cmake --build "$work/build-$name" -j"$jobs" -- --no-print-directory >"$work/$name-build.log" 2>&1; then
            tail -n 40 "$work/$name-build.log" >&2
            echo "Building $name failed (above: the end of its log)." >&2
            exit 1
        fi
        grep -E '^\[ *[0-9]+%\] Built target' "$work/$name-build.log" || true
        cmake --install "$work/build-$name" >"$work/$name-install.log" 2>&1 ||
            { cat "$work/$name-install.log" >&2; exit 1; }
    }

    unpack "$sources" libogg "$work/libogg"
    cmake_build libogg "$work/libogg" "${static[@]}" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
    unpack "$sources" libvorbis "$work/libvorbis"
    cmake_build libvorbis "$work/libvorbis" "${static[@]}"
    unpack "$sources" flac "$work/flac"
    cmake_build flac "$work/flac" "${static[@]}" -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_OGG=ON
    unpack "$sources" freetype "$work/freetype"
    cmake_build freetype "$work/freetype" "${static[@]}" -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON \
        -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
    unpack "$sources" openal-soft "$work/openal-soft"
    cmake_build openal-soft "$work/openal-soft" "${shared[@]}" -DALSOFT_UTILS=OFF -DALSOFT_EXAMPLES=OFF \
        -DALSOFT_TESTS=OFF -DALSOFT_INSTALL_CONFIG=OFF -DALSOFT_INSTALL_HRTF_DATA=OFF \
        -DALSOFT_INSTALL_AMBDEC_PRESETS=OFF -DALSOFT_UPDATE_BUILD_VERSION=OFF \
        -DALSOFT_BACKEND_WINMM=ON -DALSOFT_BACKEND_DSOUND=ON -DALSOFT_BACKEND_WASAPI=ON -DALSOFT_BACKEND_WAVE=ON \
        -DALSOFT_STATIC_LIBGCC=ON -DALSOFT_STATIC_STDCXX=ON
    unpack "$sources" libsfml "$work/sfml"
    cmake_build sfml "$work/sfml" "${shared[@]}" -DSFML_USE_SYSTEM_DEPS=ON -DSFML_BUILD_EXAMPLES=OFF \
        -DSFML_BUILD_DOC=OFF -DSFML_BUILD_NETWORK=OFF -DSFML_INSTALL_PKGCONFIG_FILES=OFF
}

# What a complete cache holds; a file missing or empty means it is damaged.
cached_files=(
    prefix/bin/OpenAL32.dll prefix/include/AL/alc.h
    prefix/bin/sfml-graphics-2.dll prefix/bin/sfml-window-2.dll prefix/bin/sfml-audio-2.dll prefix/bin/sfml-system-2.dll
    prefix/lib/cmake/SFML/SFMLConfig.cmake
)
check_cache() {
    local file
    for file in "${cached_files[@]}"; do
        if [ ! -s "$cache/$file" ]; then
            echo "The cached Windows libraries in $cache are damaged: $file is missing or empty." >&2
            echo "Remove that folder (rm -rf '$cache') and run this script again to rebuild them." >&2
            exit 1
        fi
    done
}

# One run at a time on a cache; a second waits for the first.
mkdir -p "$(dirname "$cache")"
exec {lock}>"$cache.lock"
if ! flock -n "$lock"; then
    echo "Another build is using $cache; waiting for it to finish."
    flock -w 3600 "$lock" || { echo "The other build did not finish within an hour." >&2; exit 1; }
fi

if [ -f "$cache/complete" ]; then
    step "libraries: cached in $cache"
    check_cache
else
    step "libraries: building into $cache (about 8 minutes on 2 cores)"
    rm -rf "$cache"
    mkdir -p "$cache/sources"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    fetch_sources "$cache/sources"
    build_libraries "$cache/sources" "$work"
    check_cache
    touch "$cache/complete"
fi

step "building quorvel.exe, quorvel-check.exe and quorvel-preview.exe"
mkdir -p "$out"
cmake -S "$root" -B "$out/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DSFML_DIR="$prefix/lib/cmake/SFML" >"$out/configure.log" 2>&1 || { cat "$out/configure.log" >&2; exit 1; }
grep -q 'OpenAL headers not found' "$out/configure.log" && { echo "OpenAL's headers were not found in $prefix" >&2; exit 1; }
cmake --build "$out/build" -j"$jobs"

version=$(sed -n 's/^project(quorvel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name=quorvel-$version-win64
step "packing $name.zip"
stage=$out/$name
rm -rf "$stage" "$out/$name.zip.partial"
mkdir -p "$stage"
cp "$out/build/quorvel.exe" "$out/build/quorvel-check.exe" "$out/build/quorvel-preview.exe" "$prefix"/bin/sfml-{graphics,window,audio,system}-2.dll "$prefix/bin/OpenAL32.dll" "$stage/"
cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$stage/"
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll
cp -r "$root/examples/show" "$stage/show"
cp "$root/README.md" "$stage/README.md"
sed 's/$/\r/' "$root/packaging/play-example.bat" >"$stage/play-example.bat"
(cd "$out" && zip -qr "$name.zip.partial" "$name")
mv "$out/$name.zip.partial" "$out/$name.zip"
ls -l "$out/$name.zip"
