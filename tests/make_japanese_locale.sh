#!/bin/sh
# Makes a Japanese locale in Shift JIS in folder $1, for the tests of the
# double-byte rule under Wine (which then uses code page 932). localedef
# warns that Shift JIS is not ASCII-compatible, and makes it all the same.
set -e
mkdir -p "$1"
localedef -c --no-warnings=ascii -i ja_JP -f SHIFT_JIS "$1/ja_JP.SJIS" || test -f "$1/ja_JP.SJIS/LC_CTYPE"
