#!/usr/bin/env bash
# Checks a built module from the file alone: the undecorated export names, and the shared data
# section "shake_da" that every process loading the module maps as one memory.
#   check_module.sh MODULE ARCH
set -euo pipefail
MODULE=$1 ARCH=$2
OBJDUMP=$ARCH-w64-mingw32-objdump
EXPECTED_EXPORTS="DllCanUnloadNow DllGetClassObject DllInstall DllMain DllRegisterServer DllUnregisterServer"
fail() { echo "FAIL: $*" >&2; exit 1; }

exports=$("$OBJDUMP" -p "$MODULE" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ' | sed 's/ $//')
[ "$exports" = "$EXPECTED_EXPORTS" ] || fail "exports are '$exports', expected '$EXPECTED_EXPORTS'"

section=$("$OBJDUMP" -h "$MODULE" | grep -A1 ' shake_da ' || true)
[ -n "$section" ] || fail "no shake_da section"
echo "$section" | grep -q SHARED || fail "shake_da is not shared: $section"
[ "$("$OBJDUMP" -h "$MODULE" | grep -c ' shake_da ')" = 1 ] || fail "more than one shake_da section"
size=$((16#$(echo "$section" | head -1 | awk '{print $3}')))
case $ARCH in
    i686) minimum=$((0x64)) ;;   # both blocks with 32-bit handles
    x86_64) minimum=$((0x68)) ;;
esac
[ "$size" -ge "$minimum" ] || fail "shake_da holds $size bytes, fewer than $minimum"
echo "$ARCH module: exports '$exports'; shared section shake_da of $size bytes"
