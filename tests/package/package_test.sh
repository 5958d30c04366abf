#!/usr/bin/env bash
# Installs a build into a temporary prefix and packs it as a Debian package in
# a temporary folder, then checks what both hold: the programs, the desktop
# entry with the archive kinds' MIME types, the icon, and package dependencies
# that cover every library the programs link. Nothing is installed on this
# machine.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

programs=(quarrendel-cli)
[ -x "$build/ui/quarrendel" ] && programs+=(quarrendel)
data=()
if [ ${#programs[@]} -eq 2 ]; then
  data=(share/applications/quarrendel.desktop share/icons/hicolor/scalable/apps/quarrendel.svg
        share/mime/packages/quarrendel.xml)
fi

# cmake --install
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "cmake --install did not install bin/$p"
done
for f in "${data[@]}"; do
  [ -f "$prefix/$f" ] || fail "cmake --install did not install $f"
done
"$prefix/bin/quarrendel-cli" --version >/dev/null || fail "the installed quarrendel-cli does not run"

if [ ${#data[@]} -gt 0 ]; then
  desktop="$prefix/share/applications/quarrendel.desktop"
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects quarrendel.desktop"
  grep -qx 'Exec=quarrendel %f' "$desktop" || fail "the desktop entry does not start quarrendel with the file"
  grep -qx 'Icon=quarrendel' "$desktop" || fail "the desktop entry does not name the installed icon"
  # The MIME database built from the installed declaration alone (in the
  # temporary prefix) must map every archive kind to a type the entry opens.
  update-mime-database "$prefix/share/mime" 2>"$work/mime.log" || { cat "$work/mime.log" >&2; fail "update-mime-database"; }
  types=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n')
  for ext in pvm gvm xvm afs bml prs; do
    type=$(awk -F: -v glob="*.$ext" '$3 == glob { print $2 }' "$prefix/share/mime/globs2")
    [ -n "$type" ] || fail "no MIME type has the pattern *.$ext"
    grep -qx "$type" <<<"$types" || fail "the desktop entry does not open $type (*.$ext)"
  done
  grep -q 'PVMH' "$prefix/share/mime/magic" || fail "the PVM magic is not in the MIME database"
fi

# cpack -G DEB
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$work"/deb/quarrendel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no quarrendel_*.deb"
deb=${debs[0]}
contents=$(dpkg-deb --contents "$deb" | awk '{ print $NF }')
for p in "${programs[@]}"; do
  grep -qx "./usr/bin/$p" <<<"$contents" || fail "the package lacks /usr/bin/$p"
done
for f in "${data[@]}"; do
  grep -qx "./usr/$f" <<<"$contents" || fail "the package lacks /usr/$f"
done
[ "$(dpkg-deb -f "$deb" Package)" = quarrendel ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "package architecture"

# Every library a program needs comes from a package the .deb depends on.
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//')
[ -n "$depends" ] || fail "the package declares no dependencies"
for p in "${programs[@]}"; do
  for soname in $(readelf -d "$build/$([ "$p" = quarrendel ] && echo ui || echo cli)/$p" |
                  sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    owners=$(dpkg -S "*/$soname" 2>/dev/null | grep -v '^diversion' | cut -d: -f1 | sort -u)
    [ -n "$owners" ] || fail "no installed package holds $soname, which $p needs"
    found=0
    for owner in $owners; do grep -qx "$owner" <<<"$depends" && found=1; done
    [ $found = 1 ] || fail "$p needs $soname (from $owners), which the package does not depend on"
  done
done
if [[ " ${programs[*]} " == *" quarrendel "* ]]; then
  grep -qx libqt6widgets6 <<<"$depends" || fail "the package does not depend on libqt6widgets6"
fi
echo "package: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
