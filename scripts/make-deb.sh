#!/usr/bin/env bash
# Builds the Debian package of yieldscope: OUT_DIR/yieldscope_<version>_<arch>.deb.
#
# usage: scripts/make-deb.sh [--build-dir DIR] OUT_DIR
#   (default)        configures and builds a Release program folder in build/deb, with the
#                    distribution's hardening flags, and packages it
#   --build-dir DIR  packages an existing, already built build folder as it is (install and
#                    dpkg-deb only; the tests use it with the default preset's build)
#
# The package's dependencies come from its binaries (dpkg-shlibdeps), plus the IPA fonts the
# program substitutes for its faces: they are data, which dpkg-shlibdeps cannot see. KEN_ALL.CSV is the one in the build's program folder
# when that holds the real file, else whatever scripts/install-ken-all.sh finds.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=""
out=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build-dir) build=${2:?--build-dir needs a folder}; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "make-deb: unknown option $1" >&2; exit 2 ;;
    *) [[ -z "$out" ]] || { echo "make-deb: one OUT_DIR only" >&2; exit 2; }; out=$1; shift ;;
  esac
done
[[ -n "$out" ]] || { sed -n '4,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
say() { echo "make-deb: $*" >&2; }
for tool in dpkg-deb dpkg-shlibdeps dpkg-buildflags; do
  command -v "$tool" >/dev/null || { say "$tool is missing (apt-get install dpkg-dev)"; exit 1; }
done

version=$(sed -n 's/^project(yieldscope VERSION \([0-9][0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[[ -n "$version" ]] || { say "no version in CMakeLists.txt"; exit 1; }
arch=$(dpkg --print-architecture)

if [[ -z "$build" ]]; then
  build=$repo/build/deb
  launcher=()
  command -v ccache >/dev/null &&
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  # The distribution's flags, with every hardening feature; given as cache values so that a
  # second run follows changes of them.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cppflags=$(dpkg-buildflags --get CPPFLAGS)
  ldflags=$(dpkg-buildflags --get LDFLAGS)
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DYS_BUILD_TESTS=OFF -DYS_BUILD_BENCH=OFF "${launcher[@]}" \
    "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cppflags" \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" >/dev/null
  cmake --build "$build"
fi
[[ -f "$build/CMakeCache.txt" ]] || { say "$build: not a configured build folder"; exit 1; }
build=$(cd "$build" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root

# The build's own KEN_ALL.CSV, unless it is the empty stand-in.
if [[ -z "${YS_KEN_ALL:-}" && -s "$build/bin/KEN_ALL.CSV" ]]; then
  export YS_KEN_ALL=$build/bin/KEN_ALL.CSV
fi
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null

# Every path written into an installed file must be the package's.
if grep -rlI --exclude=KEN_ALL.CSV -e '/usr/local/' -e "$build" -e "$repo" "$root" >&2; then
  say "the files above name a path outside the package"
  exit 1
fi

doc=$root/usr/share/doc/yieldscope
install -d -m 755 "$doc"
install -m 644 "$repo/packaging/debian/copyright" "$doc/copyright"
gzip -9n <"$repo/packaging/debian/changelog" >"$doc/changelog.gz"
install -d -m 755 "$root/usr/share/lintian/overrides"
install -m 644 "$repo/packaging/debian/lintian-overrides" "$root/usr/share/lintian/overrides/yieldscope"
find "$root/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
chmod -R u=rwX,go=rX "$root"
find "$root" -type f -exec sh -c 'head -c 4 "$1" | grep -q "ELF"' _ {} \; -exec chmod 755 {} \;

# Dependencies from the binaries: dpkg-shlibdeps wants a source package around them.
mkdir -p "$stage/debian"
printf 'Source: yieldscope\n\nPackage: yieldscope\nArchitecture: any\n' >"$stage/debian/control"
mapfile -t elfs < <(find "$root" -type f -perm -u+x -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print)
# As the distribution's packages do: no compiler notes in the binaries.
strip --remove-section=.comment --remove-section=.note "${elfs[@]}"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O "${elfs[@]}" 2>"$stage/shlibdeps.log" |
  sed -n 's/^shlibs:Depends=//p')
[[ -n "$shlibs" ]] || { cat "$stage/shlibdeps.log" >&2; say "dpkg-shlibdeps found no libraries"; exit 1; }
# Read as data, so no binary names them.
depends="$shlibs, fonts-ipafont-gothic, fonts-ipafont-mincho"

install -d -m 755 "$root/DEBIAN"
size=$(du -sk --apparent-size "$root/usr" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
  "$repo/packaging/debian/control.in" >"$root/DEBIAN/control"
chmod 644 "$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/md5sums"

deb=$out/yieldscope_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
say "wrote $deb"
echo "$deb"
