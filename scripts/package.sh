#!/usr/bin/env bash
# Builds the Debian package and prints the path of the .deb. With no argument
# it configures build-pkg/ with the package's flags (scripts/package-flags.sh)
# and without the tests; given a build folder configured with those flags
# (the test build of scripts/test.sh), it packages what that folder built:
# the tests add no install rules, so the package holds the same files.
#   scripts/package.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
# CPack reads the programs' library needs with dpkg-shlibdeps and file.
scripts/setup.sh dpkg-dev file ccache >&2
source scripts/ccache-env.sh
if [ $# -gt 0 ]; then
    build_dir=$1
    grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$build_dir/CMakeCache.txt" ||
        { echo "package: $build_dir is not configured for the package" >&2; exit 1; }
else
    build_dir=build-pkg
    source scripts/package-flags.sh
    cmake -S . -B "$build_dir" "${package_cmake_args[@]}" -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build_dir" -j "$(nproc)" >/dev/null
rm -f "$build_dir"/*.deb
if ! log=$(cd "$build_dir" && cpack -G DEB 2>&1); then
    echo "$log" >&2
    exit 1
fi
version=$(sed -n 's/^project(tkcontrol VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
deb="$build_dir/tkcontrol_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "CPack made no $deb:" >&2; ls "$build_dir" >&2; exit 1; }
echo "$deb"
