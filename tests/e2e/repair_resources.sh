#!/usr/bin/env bash
# The repair tool's file as built: GUI subsystem, the 22 exported functions,
# and resources equal to their description, read back by independent tools.
set -u
exe=$1 work=$2
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

i686-w64-mingw32-objdump -p "$exe" >"$work/headers.txt" || fail "objdump cannot read $exe"
grep -q "Subsystem.*(Windows GUI)" "$work/headers.txt" || fail "not a GUI program"
for name in hvbHeapCreate hvbHeapDestroy hvbHeapAllocate hvbHeapFree hvbHeapReallocate hvbHeapGetLength \
  hvbHeapLock hvbHeapUnlock hvbHeapDump hvbGetGlobalHeap hvbFreeGlobalHeap hvbStackHeapCreate \
  hvbStackHeapAllocate hvbStackHeapFree hvbStackHeapDestroy zmrInitializeLibrary zmrCloseLibrary \
  zmrInitializeTask zmrCloseTask zmrEnableProcessorType zmrDisableProcessorType zmrGetEnabledProcessorType; do
  grep -qE "\] $name\$" "$work/headers.txt" || fail "$name is not exported"
done

wrestool -l "$exe" >"$work/resources.txt" || fail "wrestool cannot read $exe"
expected="--type=3 --name=1 --language=1041
--type=5 --name=113 --language=1041
--type=14 --name='MAIN' --language=1041
--type=16 --name=1 --language=1041
--type=24 --name=1 --language=1041"
[ "$(sed 's/ \[.*//' "$work/resources.txt")" = "$expected" ] || { cat "$work/resources.txt"; fail "resource list"; }

# The icon: one 32 x 32 image of 8 bits.
wrestool -x --type=14 --name=MAIN "$exe" -o "$work/main.ico" || fail "no icon group MAIN"
[ "$(icotool -l "$work/main.ico")" = "--icon --index=1 --width=32 --height=32 --bit-depth=8 --palette-size=256" ] \
  || { icotool -l "$work/main.ico"; fail "icon group MAIN"; }

# The dialog, decompiled by the resource compiler.
i686-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null | iconv -f CP932 -t UTF-8 >"$work/resources.rc"
dialog=$(sed -n '/^113 DIALOG/,/^END/p' "$work/resources.rc")
expected='113 DIALOG 0, 0, 191, 57
STYLE 0x80c008c0
CAPTION L"\x4fee\x5fa9\x30bb\x30c3\x30c8\x30a2\x30c3\x30d7\x4e2d"
FONT 9, L"\xff2d\xff33 \xff30\x30b4\x30b7\x30c3\x30af"
BEGIN
  CONTROL L"\x30d5\x30a1\x30a4\x30eb\x3092\x4fee\x5fa9\x3057\x3066\x3044\x307e\x3059", 1001, "STATIC", 0x50020201, 7, 6, 177, 44
  CONTROL "Cancel", 2, "BUTTON", 0x40010000, 66, 36, 50, 14
END'
[ "$dialog" = "$expected" ] || { echo "$dialog"; fail "dialog 113"; }
grep -q '^LANGUAGE 17, 1' "$work/resources.rc" || fail "resources are not in Japanese (1041)"

# The manifest: well-formed, elevated, common controls 6.
wrestool -x --raw --type=24 --name=1 "$exe" >"$work/manifest.xml" || fail "no manifest"
xmllint --noout "$work/manifest.xml" || fail "the manifest is not well-formed XML"
xpath() { xmllint --xpath "string($1)" "$work/manifest.xml"; }
[ "$(xpath '//*[local-name()="requestedExecutionLevel"]/@level')" = requireAdministrator ] || fail "execution level"
[ "$(xpath '//*[local-name()="assemblyIdentity"][@name="Microsoft.Windows.Common-Controls"]/@version')" = 6.0.0.0 ] ||
  fail "common controls 6"
[ "$(xpath 'count(//*[local-name()="supportedOS"])')" = 5 ] || fail "supported systems"

# The version information: the project's version, Japanese and code page 932.
version=$(sed -n 's/^project(hvb VERSION \([0-9]*\)\.\([0-9]*\)\.\([0-9]*\).*/\1, \2, \3, 0/p' "$(dirname "$0")/../../CMakeLists.txt")
info=$(sed -n '/VERSIONINFO/,/^END/p' "$work/resources.rc")
for line in "FILEVERSION $version" 'BLOCK "041103a4"' '"OriginalFilename", "repair.exe"' 'VALUE "Translation", 0x411, 932'; do
  grep -qF "$line" <<<"$info" || { echo "$info"; fail "version information lacks: $line"; }
done
echo "1 passed, 0 failed"
