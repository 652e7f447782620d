#!/bin/sh
# Screenshots of the main window, the database selection dialog, the Yes/No
# question, the error box and the file dialog, taken under Xvfb with openbox.
# Usage: tools/screenshot_tour/screenshots.sh <build folder> [output folder]
set -eu
BUILD=${1:?build folder}
OUT=${2:-$BUILD/screenshots}
mkdir -p "$OUT"
cmake --build "$BUILD" --target tallo_screenshot_tour -j2 >/dev/null
INI=$(mktemp)
printf '[System]\r\nSelectedDatabase=Main\r\n[Databases]\r\nMain=/srv/data/main.fdb\r\n\322\345\361\362=localhost:/srv/test.fdb\r\nArchive=/srv/archive.fdb\r\n' >"$INI"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -c "
    openbox >/dev/null 2>&1 &
    sleep 1
    '$BUILD/tools/screenshot_tour/tallo_screenshot_tour' '$OUT' '$INI'
"
rm -f "$INI"
echo "screenshots in $OUT"
