# Shared by the scripts: paths, progress lines, and the one-time setup check.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ZANDREL_BUILD:-$ROOT/build}

say() { printf '[zandrel] %s\n' "$*"; }
fail() { printf '[zandrel] FAILED: %s\n' "$*" >&2; exit 1; }

# ensure_setup run: what building and running the Linux program needs
# (scripts/setup --run); ensure_setup: everything scripts/test uses.
ensure_setup() {
  # Cheap checks first; the setup runs only when something is missing.
  local missing=0
  if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null ||
     ! pkg-config --exists webkit2gtk-4.1 speech-dispatcher 2>/dev/null ||
     ! command -v Xvfb >/dev/null; then
    missing=1
  fi
  if [ "${1:-}" = run ]; then
    [ "$missing" = 0 ] && return 0
    say "installing what the program needs (scripts/setup --run)"
    "$ROOT/scripts/setup" --run ||
      fail "scripts/setup --run did not complete; fix the package problem it reported and run again"
    return 0
  fi
  if [ "$missing" = 1 ] || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
     ! command -v lintian >/dev/null; then
    say "installing dependencies (scripts/setup)"
    "$ROOT/scripts/setup" || fail "scripts/setup did not complete; fix the package problem it reported and run again"
  fi
}

# Rebuilds of several trees (Release, sanitizers, Windows) share one compiler
# cache when ccache is installed; without it the build is the same, only slower.
compiler_cache_args() {
  command -v ccache >/dev/null &&
    echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
  return 0
}

build_linux() {
  local dir=$1; shift
  say "configuring $dir"
  cmake -S "$ROOT" -B "$dir" -G Ninja $(compiler_cache_args) "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log" >&2; fail "cmake could not configure $dir (see above)"; }
  say "building $dir${BUILD_TARGETS:+ ($BUILD_TARGETS)}"
  local targets=()
  for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
  cmake --build "$dir" -j"$(nproc)" "${targets[@]}" ||
    fail "the build in $dir failed (compiler errors above)"
}
