# Sourced: the compile and link flags and CMake arguments of the Debian
# package build, the same for build-pkg/ and for the test build the package is
# made from. Optimisation and hardening come from dpkg-buildflags, as in a
# Debian package build (CMake reads no CPPFLAGS, so they join CXXFLAGS). Its
# -ffile-prefix-map names the checkout's folder, which would keep a clone in
# another folder from finding its compiles in ccache; the installed programs
# are stripped of the paths it maps anyway.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
CXXFLAGS=$(printf '%s\n' $CXXFLAGS $CPPFLAGS | grep -v '^-ffile-prefix-map=' | paste -sd' ')
export CXXFLAGS LDFLAGS
package_cmake_args=(-DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr)
