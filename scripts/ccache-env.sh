# Sourced by the build scripts: every compile goes through ccache. Paths are
# taken relative to the checkout, and the working folder is left out of the
# hash of -g builds, so that a fresh clone in another folder finds what an
# earlier one compiled. A cache or base folder set by the caller is kept.
# CMake reads the launcher variables when it first configures a build folder.
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
    export CCACHE_NOHASHDIR=1
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
