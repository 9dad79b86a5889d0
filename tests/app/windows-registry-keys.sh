#!/usr/bin/env bash
# Writes the registry keys WindowsRegistryTest.cpp reads, with "reg add", into the registry of
# the Windows the arguments run programs in (Wine: "env WINEPREFIX=... wine64").
set -euo pipefail
run=("$@")
base='HKCU\Software\TarvolenTest'
add() {
  "${run[@]}" reg add "$@" /f >/dev/null
}
"${run[@]}" reg delete "$base" /f >/dev/null 2>&1 || true
add "$base\\Ordine\\A" /v AliasName /d primo
add "$base\\Ordine\\B" /v AliasName /d secondo
add "$base\\Ordine\\C" /v AliasName /d terzo
add "$base\\UltimaSenza\\A" /v AliasName /d primo
add "$base\\UltimaSenza\\B" /v Altro /d x
add "$base\\Numero\\X" /v AliasName /t REG_DWORD /d 7
add "$base\\Espandibile\\X" /v AliasName /t REG_EXPAND_SZ /d '%USERNAME%_db'
add "$base\\Vuota"
echo "windows-registry-keys: keys written under $base"
