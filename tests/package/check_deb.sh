#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as Debian's checker and a new
# administrator meet it: lintian, the units under systemd's own checks, and a real install into
# this machine (root only), where the installed tool compacts a demo program folder from inside
# and from outside it, its manual pages still match its usage texts, and removing the package
# leaves the program folder alone. Everything it installs or makes is taken away again, also
# when a check fails; each step has a time limit.
set -euo pipefail
# The whole check has a time limit of its own, below CTest's, so that its clean-up still runs
# when a step takes too long.
if [ -z "${CHECK_DEB_LIMITED:-}" ]; then
  CHECK_DEB_LIMITED=1 exec timeout 1000 "$0" "$@"
fi
build=$(cd "$1" && pwd)
folder=$(sed -n 's/^TARNU_INSTALLED_PROGRAM_FOLDER:PATH=//p' "$build/CMakeCache.txt")
[ -n "$folder" ] || { echo "check_deb: no program folder in $build/CMakeCache.txt" >&2; exit 1; }
man_sources=$(cd "$(dirname "$0")/../../platform/linux/install/man" && pwd)
scratch=$(mktemp -d)
installed=0
made_folder=0
cleanup() {
  if [ "$installed" = 1 ]; then
    timeout 300 dpkg --purge tarnu-system-tool >/dev/null || echo "check_deb: purge failed" >&2
  fi
  if [ "$made_folder" = 1 ]; then rm -rf "$folder"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "check_deb: $*" >&2; exit 1; }
trap 'fail "stopped after its time limit"' TERM INT
limit() { timeout -k 10 "$@"; }

(cd "$build" && limit 600 cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/out/*.deb)
echo "package: $(basename "$deb")"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tarnu-system-tool ./usr/bin/tarnu-db ./usr/bin/tarnu-reg \
            ./usr/share/applications/tarnu-system-tool.desktop \
            ./usr/share/icons/hicolor/32x32/apps/tarnu-system-tool.png \
            ./usr/lib/systemd/system/tarnu-compact.service \
            ./usr/lib/systemd/system/tarnu-compact.timer \
            ./usr/share/doc/tarnu-system-tool/copyright \
            ./usr/share/doc/tarnu-system-tool/changelog.gz \
            ./usr/share/man/man1/tarnu-system-tool.1.gz ./usr/share/man/man1/tarnu-db.1.gz \
            ./usr/share/man/man1/tarnu-reg.1.gz; do
  grep -q " $path\$" <<<"$contents" || fail "missing $path"
done
# The timer is installed, not enabled: no link into timers.target.wants, no maintainer script.
if grep -q "wants/" <<<"$contents"; then fail "the package enables a unit"; fi
if dpkg-deb -I "$deb" | grep -qE '^ +(postinst|preinst)'; then fail "maintainer scripts"; fi
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libsqlite3-0 qt6-qpa-plugins; do
  grep -q "$dep" <<<"$depends" || fail "does not depend on $dep"
done

# Debian's checker, with no overrides: any warning or error fails.
limit 600 lintian --fail-on error,warning --tag-display-limit 0 "$deb" ||
  fail "lintian finds fault with the package"
dpkg-deb -x "$deb" "$scratch/root"
changelog=$(zcat "$scratch/root/usr/share/doc/tarnu-system-tool/changelog.gz" | head -1)
[[ "$changelog" == "tarnu-system-tool ($(dpkg-deb -f "$deb" Version)) "* ]] ||
  fail "the changelog's first entry is not this version: $changelog"
entry="$scratch/root/usr/share/applications/tarnu-system-tool.desktop"
grep -q '^Exec=/usr/bin/tarnu-system-tool$' "$entry" || fail "the desktop entry's command"
grep -qx "Path=$folder" "$entry" || fail "the desktop entry's working folder"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"

if [ "$(id -u)" -ne 0 ]; then
  echo "check_deb: installing the package needs root; the install checks did not run" >&2
  exit 77
fi
# One installing run at a time on a machine: runs of other build folders wait for it.
exec 9>/run/tarnu-package-test.lock
flock -w 300 9 || fail "another package test holds /run/tarnu-package-test.lock"
state() { dpkg-query -W -f='${db:Status-Status}' tarnu-system-tool 2>/dev/null || true; }
if [ -n "$(state)" ] && [ "$(state)" != not-installed ]; then
  fail "tarnu-system-tool is known to dpkg here ($(state)); the test would replace it and" \
       "then remove it, so it stops here (apt-get purge tarnu-system-tool first)"
fi
if [ -e "$folder" ] || [ -L "$folder" ]; then
  fail "$folder exists on this machine: the test makes its demo program folder there and" \
       "touches nothing that was there before, so it stops here (move $folder away first)"
fi
# The package alone goes in: a dependency that is missing here is for scripts/setup.sh to
# install, not for this test to leave behind.
sim=$(apt-get install -s --no-install-recommends "$deb" 2>&1) ||
  { echo "$sim" >&2; fail "apt-get cannot install the package"; }
others=$(sed -n 's/^Inst \([^ ]*\).*/\1/p' <<<"$sim" | grep -vx tarnu-system-tool || true)
[ -z "$others" ] || fail "the package needs packages this machine lacks:" $others

installed=1
limit 600 apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=120 "$deb" \
  >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt-get install failed"; }

service=/usr/lib/systemd/system/tarnu-compact.service
verify=$(limit 120 systemd-analyze verify "$service" "${service%.service}.timer" 2>&1) ||
  { echo "$verify" >&2; fail "systemd finds fault with the units"; }
[ -z "$verify" ] || { echo "$verify" >&2; fail "systemd finds fault with the units"; }
# The sandbox's exposure as systemd rates it (0 to 100); a unit that loosens it fails here.
limit 120 systemd-analyze security --offline=yes --threshold=12 "$service" >"$scratch/security" ||
  { cat "$scratch/security" >&2; fail "the service is less sandboxed than it was"; }

# The manual pages are the usage texts of the installed programs as help2man writes them in
# German, with the name line and cross references of man/*.h2m. Where a usage changed, the
# new pages are left in the build folder for review.
mkdir "$scratch/locale"
localedef -i de_DE -f UTF-8 "$scratch/locale/de_DE.UTF-8" 2>/dev/null ||
  fail "no German locale for help2man (Debian package locales)"
body() { grep -v '^\.\\"' | sed '/^\.TH /d'; }  # without the generator's note and the date
stale=0
for program in tarnu-system-tool tarnu-db tarnu-reg; do
  LOCPATH="$scratch/locale" limit 60 env -u TARNU_PROGRAM_FOLDER help2man --locale=de_DE.UTF-8 \
    -N -i "$man_sources/$program.h2m" -o "$scratch/$program.1" "/usr/bin/$program" ||
    fail "help2man cannot read the usage of $program"
  if ! diff -u <(zcat "/usr/share/man/man1/$program.1.gz" | body) \
       <(body <"$scratch/$program.1"); then
    mkdir -p "$build/manpages"
    cp "$scratch/$program.1" "$build/manpages/"
    stale=1
  fi
done
[ "$stale" = 0 ] || fail "manual pages no longer match the usage texts; the new ones are in" \
                         "$build/manpages: check them and copy them to $man_sources"
[ "$(command -v tarnu-system-tool)" = /usr/bin/tarnu-system-tool ] ||
  fail "tarnu-system-tool is not the installed program here: $(command -v tarnu-system-tool)"
help=$(env -u TARNU_PROGRAM_FOLDER tarnu-system-tool --help)
grep -q "^Programmordner: $folder\$" <<<"$help" || fail "--help names another program folder"

# The four databases of the demo, compacted by the installed tool run from the program folder
# and from elsewhere: it finds its program folder without being told.
compacts_from() {
  local from=$1 out line
  rm -f "$folder"/*.mdb "$folder"/*.mde "$folder"/*.srv
  limit 120 tarnu-db demo "$folder" >/dev/null || fail "tarnu-db demo $folder failed"
  out=$(cd "$from" && limit 300 env -u TARNU_PROGRAM_FOLDER -u DISPLAY -u WAYLAND_DISPLAY \
        tarnu-system-tool --compact 2>&1) || { echo "$out" >&2; fail "--compact in $from failed"; }
  for name in system.srv KDL.mdb kdlcode.mde Tarnu-Admin.mde; do
    line=$(grep -F "$name: " <<<"$out") || { echo "$out" >&2; fail "--compact in $from: no $name"; }
    set -- $line
    [ "$4" -lt "$2" ] && [ "$4" -eq "$(stat -c %s "$folder/$name")" ] ||
      fail "--compact in $from did not compact $name: $line"
  done
  grep -qx 'Die Programmdateien wurden erfolgreich komprimiert!' <<<"$out" ||
    { echo "$out" >&2; fail "--compact in $from did not report success"; }
}
mkdir "$folder" || fail "cannot make $folder"
made_folder=1
compacts_from "$folder"
compacts_from /
echo "the installed tool compacted $folder from inside and from /"

snapshot() { (cd "$folder" && find . -printf '%p %y %s %m %u %g %T@\n' | sort && sha256sum ./*); }
before=$(snapshot)
limit 600 apt-get remove -y -q -o DPkg::Lock::Timeout=120 tarnu-system-tool \
  >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt-get remove failed"; }
case "$(state)" in "" | not-installed) ;; *) fail "apt-get remove left the package $(state)" ;; esac
installed=0
[ ! -e /usr/bin/tarnu-system-tool ] || fail "apt-get remove left /usr/bin/tarnu-system-tool"
[ "$(snapshot)" = "$before" ] || fail "apt-get remove changed $folder"
echo "check_deb: all checks passed"
