#!/usr/bin/env bash
# Sets up what is missing, builds, prepares a demo program folder and starts the tool in it.
#   scripts/run.sh [DEMO_FOLDER]      (default: build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what the program needs: the tests bring their own packages with scripts/test.sh.
scripts/setup.sh program
scripts/build.sh program --target tarnu-system-tool tarnu-db >/dev/null

demo=${1:-build/demo}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
if [ -x build/bin/tarnu-db ]; then
  # A fresh set of the four databases each time, with links, temporary tables and dead rows.
  rm -f "$demo"/*.mdb "$demo"/*.mde "$demo"/*.srv
  build/bin/tarnu-db demo "$demo"
fi
# The tool works on the folder it lies in, so it is put there.
cp build/bin/tarnu-system-tool "$demo/"

echo "Demo program folder: $demo"
ls -l "$demo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Without a display the main job still runs: the compaction, unattended.
  echo
  echo "No display is available; running the compaction without a window:"
  (cd "$demo" && ./tarnu-system-tool --compact)
  cat <<MSG

To use the window:
  - on a desktop:         cd "$demo" && ./tarnu-system-tool
  - on a virtual display: cd "$demo" && xvfb-run -a ./tarnu-system-tool
    (apt-get install xvfb xauth; take a screenshot with "import -window root shot.png"
    from imagemagick, or use x11vnc to look at it)
MSG
  exit 0
fi
cd "$demo"
exec ./tarnu-system-tool
