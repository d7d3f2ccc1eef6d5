#!/usr/bin/env bash
# Builds the Debian package in build-pkg/ and prints the path of the .deb. The
# build takes its optimisation and hardening flags from dpkg-buildflags, as a
# Debian package build does (CMake reads no CPPFLAGS, so they join CXXFLAGS),
# and leaves the tests out.
set -euo pipefail
cd "$(dirname "$0")/.."
# CPack reads the programs' library needs with dpkg-shlibdeps and file.
scripts/setup.sh dpkg-dev file >&2
build_dir=build-pkg
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF >/dev/null
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
