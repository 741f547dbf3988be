#!/bin/sh
# Renders the manual page; any warning of groff fails the test.
set -eu
warnings="$(groff -man -ww -Tutf8 "$1" 2>&1 >/dev/null)"
test -z "$warnings" || { echo "$warnings"; exit 1; }
