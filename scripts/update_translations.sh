#!/usr/bin/env bash
# Collects every translatable text of the sources and forms into i18n/*.ts, keeping the
# translations already there, for editing in Qt Linguist. Run after changing a text.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=/usr/lib/qt6/bin/lupdate
aliases="translate+=tr_text,translate+=tr_string,QT_TRANSLATE_NOOP+=ZARVIK_TEXT"
for lang in en ru; do
  "$lupdate" -silent -no-obsolete -locations none -tr-function-alias "$aliases" \
    -target-language "$lang" src res -ts "i18n/zarvik_$lang.ts"
done
