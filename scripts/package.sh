#!/usr/bin/env bash
# Builds the Debian packages tonvale and tonvale-survey:
#   scripts/package.sh [BUILD_DIR [CMAKE_OPTIONS...]]     (default build/packaging)
# e.g. scripts/package.sh build/packaging -DTONVALE_SURVEY_HOST=survey.example.org
# The .deb files land in BUILD_DIR/packages and their paths are printed.
# Configured for /usr, with Debian's own compiler and linker flags (hardening included), so the
# packages are built the way Debian builds its own. TONVALE_BUILD_ONLY=1 builds the tree so and
# stops before the packages (the test command's plain tree, packaged later by the package test).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" packaging
dir=$(realpath -m "${1:-$top/build/packaging}")
shift || true

cd "$top" # dpkg-buildflags maps the current directory out of the debug paths
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cflags="$(dpkg-buildflags --get CFLAGS) $cppflags"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
ldflags=$(dpkg-buildflags --get LDFLAGS)

"$top/scripts/build.sh" "$dir" \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DTONVALE_BUILD_GUI=ON -DTONVALE_BUILD_SERVER=ON \
  -DTONVALE_BUILD_TESTS=OFF -DTONVALE_BUILD_BENCHMARKS=OFF -DTONVALE_SANITIZE= \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" "$@"

[[ -z "${TONVALE_BUILD_ONLY:-}" ]] || exit 0
rm -rf "$dir/packages"
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >"$dir/cpack.log" 2>&1) || {
  cat "$dir/cpack.log" >&2
  exit 1
}
ls "$dir"/packages/*.deb
