# Shared by the build scripts: configure build/<name> once and build it.
# BUILD_TARGETS, when set, names the targets to build instead of everything.
configure_and_build() {
    name=$1; shift
    dir="$ROOT/build/$name"
    export CCACHE_BASEDIR="$ROOT"
    export CCACHE_NOHASHDIR=1
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$ROOT" -B "$dir" -G Ninja \
            -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
    fi
    if [ -n "${BUILD_TARGETS:-}" ]; then
        # shellcheck disable=SC2086
        cmake --build "$dir" -j "${JOBS:-$(nproc)}" --target $BUILD_TARGETS
    else
        cmake --build "$dir" -j "${JOBS:-$(nproc)}"
    fi
}
