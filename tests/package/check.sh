#!/usr/bin/env bash
# The files a desktop reads pass its validators, and `cpack -G DEB` makes a package that holds
# them with the program, depends on what the program links, passes lintian, and whose program
# runs.
set -euo pipefail
source_dir=$1
build_dir=$2
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

desktop-file-validate "$source_dir/dist/io.github.quillon.Sonoret.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$source_dir/dist/io.github.quillon.Sonoret.metainfo.xml" ||
    fail "metainfo"
man --warnings -l "$source_dir/dist/quillon-sonoret.1" >/dev/null 2>"$build_dir/man-warnings" ||
    fail "man page"
[ ! -s "$build_dir/man-warnings" ] || fail "man page: $(cat "$build_dir/man-warnings")"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build_dir" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
    cat "$out/cpack.log" >&2
    fail "cpack"
}
deb=$(ls "$out"/quillon-sonoret_*.deb)
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/bin/quillon-sonoret \
    ./usr/share/applications/io.github.quillon.Sonoret.desktop \
    ./usr/share/icons/hicolor/scalable/apps/io.github.quillon.Sonoret.svg \
    ./usr/share/metainfo/io.github.quillon.Sonoret.metainfo.xml \
    ./usr/share/man/man1/quillon-sonoret.1.gz \
    ./usr/share/doc/quillon-sonoret/copyright \
    ./usr/share/doc/quillon-sonoret/changelog.gz; do
    grep -q " $file\$" <<<"$contents" || fail "$file is not in the package"
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libsndfile1 libsdl2-2.0-0 libqt6widgets6 libqt6dbus6; do
    grep -q "$library" <<<"$depends" || fail "no dependency on $library: $depends"
done
# Debian's own check of a package: any error or warning fails.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 || {
    cat "$out/lintian.log" >&2
    fail "lintian"
}
cmp -s "$source_dir/LICENSE" /usr/share/common-licenses/GPL-3 || fail "LICENSE is not the GPL 3"
dpkg-deb -x "$deb" "$out/root"
"$out/root/usr/bin/quillon-sonoret" --version | grep -qx 'quillon-sonoret 2.0' ||
    fail "the packaged program does not run"
echo "package: $(basename "$deb"), $(wc -l <<<"$contents") entries"
echo "1 passed, 0 failed"
