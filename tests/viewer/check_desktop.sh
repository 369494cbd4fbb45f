#!/usr/bin/env bash
# Installs into a scratch prefix: the entry must validate, run the installed program with a file, show
# an icon that is there, and open the type the installed MIME package gives *.lsm (a kind of TIFF).
set -euo pipefail
rm -rf "$2" && cmake --install "$1" --prefix "$2" >/dev/null && share="$2/share"
entry="$(ls "$share"/applications/*.desktop)" && desktop-file-validate "$entry"
value() { sed -n "s/^$1=//p" "$entry"; }
[[ "$(value Exec)" == *" %f" ]] && [ -x "$2/bin/$(value TryExec)" ]
xmllint --noout "$share/icons/hicolor/scalable/apps/$(value Icon).svg" "$share"/mime/packages/*.xml
complaints="$(XDG_DATA_DIRS="$share" update-mime-database "$share/mime" 2>&1)"
[ -z "$complaints" ] || { echo "$complaints"; exit 1; }
type="$(sed -n 's/^[0-9]*:\(.*\):\*\.lsm$/\1/p' "$share/mime/globs2")"
[ "$(value MimeType)" = "$type;" ] && grep -qx "$type image/tiff" "$share/mime/subclasses"
