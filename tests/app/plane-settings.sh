#!/usr/bin/env bash
# The real plane's settings across starts: the first start lists the pixel
# formats in opengl.log and its exit writes ZAVTAID and OPENGLMODE; a
# restart keeps another listed format stored under this machine's id, and
# drops it under a foreign id.
#
#   plane-settings.sh ZAVTA SCREENSHOT-FOLDER   (under xvfb-test.sh)
set -eu
zavta=$1
shots=$2
mkdir -p "$shots"
user="$XDG_DATA_HOME/Zavta56"
run() { ZAVTA_SCREENSHOT="$shots/plane-settings.png" "$zavta" >/dev/null 2>&1; }
fail() { echo "plane-settings: $1" >&2; exit 1; }
value() { sed -n "s/^$1=//p" "$user/default.ini" | head -1; }

run || fail "the first start failed"
[ -s "$user/opengl.log" ] || fail "no opengl.log"
id=$(value ZAVTAID)
first=$(value OPENGLMODE)
[ -n "$id" ] || fail "no ZAVTAID written"
[ -n "$first" ] && [ "$first" != 0 ] || fail "no OPENGLMODE written: '$first'"

# Another listed format than the one chosen.
other=$(sed -n 's/^ \([0-9][0-9]*\)\. .*/\1/p' "$user/opengl.log" | sed 's/^0*//' | grep -vx "$first" | head -1)
[ -n "$other" ] || { echo "plane-settings: one format only, the trust check is skipped"; exit 0; }
sed -i "s/^OPENGLMODE=.*/OPENGLMODE=$other/" "$user/default.ini"
run || fail "the second start failed"
[ "$(value OPENGLMODE)" = "$other" ] || fail "the stored format $other was not trusted: $(value OPENGLMODE)"

sed -i "s/^ZAVTAID=.*/ZAVTAID=FOREIGN/" "$user/default.ini"
run || fail "the third start failed"
[ "$(value OPENGLMODE)" = "$first" ] || fail "a foreign id's format was kept: $(value OPENGLMODE)"
echo "plane-settings: ok ($first, $other)"
