#!/usr/bin/env bash
# Runs a Windows program of this build under Wine, as CTest's emulator for the cross builds.
#
#   wine-run.sh PROGRAM.exe [ARGS...]   run it (the prefix and display are made on first use)
#   wine-run.sh --fresh                 start a new prefix and display for a test run
#   wine-run.sh --stop                  end Wine and the display and throw the prefix away
#
# One throwaway Wine prefix and one virtual X display (Xvfb) serve every program of a test run;
# they live in the build folder's wine/ beside bin/. Creating a prefix takes Wine a while, so it
# is done once, quietly and with a time limit, not by every test.
#
# The program's output is collected in a file and printed when it ends: Wine leaves helper
# processes behind (its server, the desktop), and they would otherwise keep CTest's pipe open.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${TARNU_WINE_BUILD:-}
if [ -z "$build" ]; then
  # CTest runs from the build folder or below it; the programs lie in its bin/.
  case "${1:-}" in
    --fresh|--stop) build=$PWD ;;
    *) build=$(cd "$(dirname "$1")/.." && pwd) ;;
  esac
fi
state=$build/wine
export WINEPREFIX=$state/prefix
export WINEDEBUG=-all
# No prompts for Mono or Gecko: the programs need neither .NET nor a browser engine.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A 64-bit prefix runs 32-bit programs as 64-bit Windows does (WoW64): the Windows program is
# 32-bit, and the prefix itself is set up by the native 64-bit Wine, which needs no emulation.
export WINEARCH=win64
wine=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64

# 32-bit Wine processes get the mmap fix of wine-noreplace.c ($LIB picks the 32-bit build for
# them and an empty library for the 64-bit ones). Built once per prefix.
preload=$state/preload
preload_ready() { [ -f "$preload/lib/i386-linux-gnu/tarnu-noreplace.so" ]; }
build_preload() {
  mkdir -p "$preload/lib/i386-linux-gnu" "$preload/lib/x86_64-linux-gnu"
  cc -m32 -O2 -fPIC -fno-stack-protector -c "$here/wine-noreplace.c" -o "$preload/noreplace.o" &&
    ld -m elf_i386 -shared "$preload/noreplace.o" -o "$preload/lib/i386-linux-gnu/tarnu-noreplace.so" &&
    : | cc -x c -shared -fPIC -nostdlib - -o "$preload/lib/x86_64-linux-gnu/tarnu-noreplace.so"
}
use_preload() {
  if preload_ready; then
    export LD_PRELOAD="$preload/\$LIB/tarnu-noreplace.so${LD_PRELOAD:+ $LD_PRELOAD}"
  fi
}

stop() {
  if [ -d "$WINEPREFIX" ]; then
    timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  fi
  rm -rf "$state"
}

# Starts the display and the prefix unless both are there. Called under the lock.
ensure() {
  if [ -f "$state/ready" ] && [ -S "/tmp/.X11-unix/X$(head -n1 "$state/display")" ]; then
    return 0
  fi
  stop
  mkdir -p "$state"
  if ! build_preload; then
    echo "wine-run: could not build the mmap fix for 32-bit Wine (cc -m32); 32-bit programs" \
      "will start very slowly under qemu" >&2
  fi
  use_preload
  # The lock's descriptor is closed for everything started here, which outlives this call.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$state/display" </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$state/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$state/display" ]; then
    echo "wine-run: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=:$(head -n1 "$state/display")
  # The server stays up for the whole run, so that no test starts one that outlives it.
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&-
  if ! timeout 300 "$wine" wineboot -i </dev/null >"$state/wineboot.log" 2>&1 9>&-; then
    echo "wine-run: wineboot failed or took too long; see $state/wineboot.log" >&2
    return 1
  fi
  # Wine's own desktop window: it draws the frames and captions of the windows, which a bare X
  # display without a window manager would leave out.
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
    </dev/null >>"$state/wineboot.log" 2>&1 9>&-
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    </dev/null >>"$state/wineboot.log" 2>&1 9>&-
  # Messages in the font of every Windows since Vista, Segoe UI 9 pt (the prefix has no Segoe UI
  # and draws it wider), not in the Tahoma of XP that Wine chooses: a window that takes its font
  # from there shows it in the tests.
  "$wine" reg add 'HKCU\Control Panel\Desktop\WindowMetrics' /v MessageFont /t REG_BINARY /f \
    /d f4ffffff0000000000000000000000009001000000000001000000225300650067006f006500200055004900000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000 </dev/null >>"$state/wineboot.log" 2>&1 9>&-
  # Wine's own Tahoma, which Windows' dialog font "MS Shell Dlg 2" stands for. Debian ships it in
  # fonts-wine, where this Wine does not look for it.
  if ! cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null; then
    echo "wine-run: Wine's Tahoma is missing (Debian package fonts-wine); the window tests" \
      "measure the captions in another font and fail" >&2
  fi
  # The desktop the boot started has no such window yet: a fresh server starts the one asked for
  # with the first program.
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&-
  touch "$state/ready"
}

case "${1:-}" in
  "")
    echo "usage: $0 PROGRAM [ARGS...] | --fresh | --stop" >&2
    exit 2
    ;;
  --stop)
    stop
    exit 0
    ;;
  --fresh)
    stop
    mkdir -p "$state"
    exec 9>"$build/wine.lock"
    flock 9
    ensure
    exit $?
    ;;
esac

mkdir -p "$state"
exec 9>"$build/wine.lock"
flock 9
ensure || exit 1
flock -u 9
exec 9>&-
use_preload
export DISPLAY=:$(head -n1 "$state/display")

out=$(mktemp "$state/out.XXXXXX")
"$wine" "$@" </dev/null >"$out" 2>&1
code=$?
cat "$out"
rm -f "$out"
exit $code
