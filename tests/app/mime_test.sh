#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop opens measurement bundles with Miral: the install puts a
# shared-mime-info type for *.miral and a desktop entry that names it and
# takes the file.
set -u
BUILD="$1"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
fail=0
cmake --install "$BUILD" --prefix "$TMP" >/dev/null || { echo "FAIL install"; exit 1; }
update-mime-database "$TMP/share/mime" >"$TMP/mime.log" 2>&1 || { echo "FAIL update-mime-database"; cat "$TMP/mime.log"; exit 1; }
if grep -q ':application/x-miral-bundle:\*\.miral$' "$TMP/share/mime/globs2" &&
   [ -f "$TMP/share/mime/application/x-miral-bundle.xml" ]; then
    echo "ok   *.miral is application/x-miral-bundle"
else
    echo "FAIL the type of *.miral"; fail=1
fi
desktop="$TMP/share/applications/org.miral.Miral.desktop"
if desktop-file-validate "$desktop" && grep -q '^MimeType=.*application/x-miral-bundle;' "$desktop" &&
   grep -q '^Exec=miral %f$' "$desktop"; then
    echo "ok   the desktop entry opens bundles"
else
    echo "FAIL the desktop entry: $(grep -E '^(Exec|MimeType)=' "$desktop")"; fail=1
fi
[ "$fail" = 0 ] && echo "2 passed, 0 failed" || echo "mime test failed"
exit "$fail"
