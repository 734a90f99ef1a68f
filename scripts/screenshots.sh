#!/usr/bin/env bash
# Builds the GUI tests and saves a PNG of each of the program's dialogs (main window,
# Settings, About, results) into docs/, taken on a virtual X server. The same run checks that
# no control of those dialogs is clipped or overlaps another.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
if ! command -v import >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends imagemagick
fi
build=${QF_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DQF_GUI=ON
cmake --build "$build" -j "$(nproc)" --target gui_dialog_layout_test
mkdir -p docs
# Scroll bars that overlay the text only while the pointer moves would not show in a picture.
GTK_OVERLAY_SCROLLING=0 QF_SCREENSHOT_DIR="$PWD/docs" \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/gui_dialog_layout_test"
ls -l docs/*.png
