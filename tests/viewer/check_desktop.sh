#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that desktops can use what lands in share/.
# Arguments: <build dir> <work dir>
set -euo pipefail
build="$1"; work="$2"
rm -rf "$work"
cmake --install "$build" --prefix "$work" >/dev/null
share="$work/share"
entry="$(ls "$share"/applications/*.desktop)"
desktop-file-validate "$entry"
value() { sed -n "s/^$1=//p" "$entry"; }
[[ "$(value Exec)" == *" %f" ]] && [ -x "$work/bin/$(value TryExec)" ]
xmllint --noout "$share/icons/hicolor/scalable/apps/$(value Icon).svg"
# The MIME database built from the package must map *.lsm to the type the entry opens.
xmllint --noout "$share"/mime/packages/*.xml
XDG_DATA_DIRS="$share" update-mime-database "$share/mime" 2>&1 | { ! grep .; }
glob="$(sed -n 's/^[0-9]*:\(.*\):\*\.lsm$/\1/p' "$share/mime/globs2")"
[ -n "$glob" ] && [ "$(value MimeType)" = "$glob;" ] || { echo "*.lsm is '$glob', the entry opens '$(value MimeType)'"; exit 1; }
grep -qx "$glob image/tiff" "$share/mime/subclasses"
echo "desktop entry, $glob and icon are in place"
