#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it the way an administrator would
# meet it, without installing it: its contents, its extracted program, and whether apt can
# satisfy its dependencies on this Debian.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check_deb: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/out/*.deb)
echo "package: $(basename "$deb")"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tarnu-system-tool ./usr/bin/tarnu-db ./usr/bin/tarnu-reg \
            ./usr/share/applications/tarnu-system-tool.desktop \
            ./usr/share/icons/hicolor/32x32/apps/tarnu-system-tool.png \
            ./usr/lib/systemd/system/tarnu-compact.service \
            ./usr/lib/systemd/system/tarnu-compact.timer; do
  grep -q " $path\$" <<<"$contents" || fail "missing $path"
done
# The timer is installed, not enabled: no link into timers.target.wants, no maintainer script.
if grep -q "wants/" <<<"$contents"; then fail "the package enables a unit"; fi
if dpkg-deb -I "$deb" | grep -qE '^ +(postinst|preinst)'; then fail "maintainer scripts"; fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for dep in libqt6widgets6 libsqlite3-0 qt6-qpa-plugins; do
  grep -q "$dep" <<<"$depends" || fail "does not depend on $dep"
done

dpkg-deb -x "$deb" "$scratch/root"
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$scratch/root/usr/bin/tarnu-system-tool" --help) ||
  fail "the extracted program's --help failed"
grep -q -- "--compact" <<<"$help" || fail "--help does not name --compact"
entry="$scratch/root/usr/share/applications/tarnu-system-tool.desktop"
grep -q '^Exec=/usr/bin/tarnu-system-tool$' "$entry" ||
  fail "the desktop entry's command"
grep -q '^Path=/opt/tarnu$' "$entry" || fail "the desktop entry's working folder"
desktop-file-validate "$entry" ||
  fail "the desktop entry is not valid"
service="$scratch/root/usr/lib/systemd/system/tarnu-compact.service"
grep -q '^WorkingDirectory=/opt/tarnu$' "$service" || fail "service working folder"
grep -q '^ExecStart=/usr/bin/tarnu-system-tool --compact$' "$service" || fail "service command"
verify=$(systemd-analyze verify "$service" "${service%.service}.timer" 2>&1 |
         grep -v 'is not executable\|No such file or directory' || true)
[ -z "$verify" ] || { echo "$verify" >&2; fail "systemd finds fault with the units"; }

# Whether this Debian can install it: apt works out the dependencies without changing anything.
sim=$(apt-get install -s "$deb" 2>&1) || { echo "$sim" >&2; fail "apt-get cannot install it"; }
grep -q '^Inst tarnu-system-tool\|^Conf tarnu-system-tool\|tarnu-system-tool is already' <<<"$sim" ||
  { echo "$sim" >&2; fail "apt-get would not install the package"; }
echo "check_deb: all checks passed"
