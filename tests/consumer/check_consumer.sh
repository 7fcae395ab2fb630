#!/usr/bin/env bash
# The installed tree serves a host with nothing of the source or build tree: it installs BUILD into a
# fresh temporary folder (by way of another folder, so the tree is known to move), checks what landed
# there, builds the C example against it through find_package and through pkg-config, and runs each
# build against the stage's own virtual bench. The two must print the same figures. The folder is
# removed after a pass and kept (its path printed) after a failure.
#   check_consumer.sh BUILD VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-consumer.XXXXXX")
stage=$scratch/stage
work=$scratch/builds
failures=0
failed() {
  echo "consumer: FAILED: $*" >&2
  failures=$((failures + 1))
}
finish() {
  local status=$?
  if [ "$status" -eq 0 ]; then rm -rf "$scratch"; else echo "consumer: its folder is kept: $scratch" >&2; fi
}
trap finish EXIT

mkdir -p "$work"
cmake --install "$build" --prefix "$work/first-place" >"$work/install.log"
mv "$work/first-place" "$stage"

major=${version%%.*}
for file in include/dorvane.h include/dorvane_helpers.h include/dorvane_spectra.h bin/dorvane bin/dorvane-benchsim \
            lib/libdorvane.so lib/libdorvane.so.$major lib/libdorvane.so.$version \
            lib/libdorvane_spectra.so lib/libdorvane_spectra.so.$major lib/libdorvane_spectra.so.$version \
            lib/pkgconfig/dorvane.pc lib/pkgconfig/dorvane_spectra.pc \
            lib/cmake/dorvane/dorvaneConfig.cmake lib/cmake/dorvane/dorvaneConfigVersion.cmake \
            lib/cmake/dorvane/dorvaneTargets.cmake; do
  [ -e "$stage/$file" ] || failed "$file is not installed"
done
for library in dorvane dorvane_spectra; do
  soname=$(readelf -d "$stage/lib/lib$library.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$library.so.$major" ] || failed "lib$library.so.$version has the SONAME '$soname'"
done
static=$(find "$stage" -name '*.a')
[ -z "$static" ] || failed "static libraries installed: $static"
# The moved programs find the moved libraries by their RUNPATH alone.
env -u LD_LIBRARY_PATH "$stage/bin/dorvane" --version >/dev/null || failed "the installed dorvane does not run"
[ "$(pkg-config --modversion "$stage/lib/pkgconfig/dorvane_spectra.pc")" = "$version" ] ||
  failed "dorvane_spectra.pc does not give version $version"

for via in find_package pkg-config; do
  folder=$work/$via
  if ! PKG_CONFIG_LIBDIR=$stage/lib/pkgconfig PKG_CONFIG_PATH= \
       cmake -S "$here" -B "$folder" -G Ninja -DDORVANE_CONSUMER_VIA=$via -DCMAKE_PREFIX_PATH="$stage" \
             -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$folder.log" 2>&1 ||
     ! cmake --build "$folder" >>"$folder.log" 2>&1; then
    cat "$folder.log" >&2
    failed "the host does not build through $via"
    continue
  fi
  # Nothing of the build or the source tree but the stage: no include folder, no RUNPATH.
  if grep -E '^ *(INCLUDES|FLAGS|LINK_FLAGS|LINK_LIBRARIES) =' "$folder/build.ninja" | sed "s#$stage/##g" |
     grep -F -e "$source_dir" -e "$build/" >&2; then
    failed "the $via build includes from the source or build tree"
  fi
  runpath=$(readelf -d "$folder/consumer" | sed -n 's/.*(R.*PATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = "$stage/lib" ] || failed "the $via build's RUNPATH is '$runpath', not $stage/lib"
  if env -u LD_LIBRARY_PATH "$source_dir/tests/support/with_virtual_bench.sh" "$stage/bin/dorvane-benchsim" \
       "$folder/consumer" >"$work/$via.out" 2>&1; then
    echo "consumer: $via: $(tr '\n' ' ' <"$work/$via.out")"
  else
    cat "$work/$via.out" >&2
    failed "the $via build did not acquire a file"
  fi
done
if ! diff <(grep -v '^time:' "$work/find_package.out") <(grep -v '^time:' "$work/pkg-config.out") >&2; then
  failed "the two builds acquired different figures from the same bench"
fi

[ $failures -eq 0 ] || exit 1
echo "consumer: the staged install serves both builds"
