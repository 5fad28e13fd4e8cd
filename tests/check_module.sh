#!/usr/bin/env bash
# Checks a built module from the file alone: the undecorated export names, that no section is
# shared (a shared section would be one for every session and user, and apart for every copy and
# width of the module; the machine run lives in a named mapping instead), that it loads on
# the oldest system of its architecture (every import on the list module/imports-ARCH.txt, a
# subsystem version that system accepts), and its address-space protections. A program shipped
# beside it (the setup program, its uninstaller) is checked for the same loading rules only, its
# imports on the module's list or on a list of its own:
#   check_module.sh MODULE ARCH
#   check_module.sh --program PROGRAM ARCH IMPORTS_LIST
set -euo pipefail
PROGRAM_IMPORTS=
if [ "$1" = --program ]; then
    PROGRAM_IMPORTS=$4
    shift
fi
MODULE=$1 ARCH=$2
OBJDUMP=$ARCH-w64-mingw32-objdump
ALLOWED_IMPORTS=$(dirname "$0")/module/imports-$ARCH.txt
EXPECTED_EXPORTS="DllCanUnloadNow DllGetClassObject DllInstall DllMain DllRegisterServer DllUnregisterServer ShowPanel"
fail() { echo "FAIL: $*" >&2; exit 1; }

headers=$("$OBJDUMP" -p "$MODULE")
# That it loads on the oldest system of its architecture: sets imports, subsystem and flags.
check_loading() {
    # One "dll function" line per import; an import by ordinal reads "dll #ordinal".
    imports=$(awk '
        /^The Import Tables/ { inside = 1; next }
        inside && /^[^ \t]/ { inside = 0 }
        inside && /DLL Name:/ { dll = tolower($3); next }
        inside && dll != "" && /^\t[0-9a-f]+\t/ {
            print dll, ($3 == "" || $3 == "<none>") ? "#" $2 : $3
        }' <<<"$headers" | sort -u)
    [ -n "$imports" ] || fail "no imports read from $MODULE"
    unlisted=$(cat "$ALLOWED_IMPORTS" ${PROGRAM_IMPORTS:+"$PROGRAM_IMPORTS"} | grep -v '^#' | sort -u |
        comm -23 <(echo "$imports") -)
    [ -z "$unlisted" ] || fail "imports not known to exist on the oldest system (see $ALLOWED_IMPORTS):
$unlisted"

    case $ARCH in
        i686) oldest=501 required=$((0x0140)) ;;    # Windows XP; DYNAMIC_BASE, NX_COMPAT
        x86_64) oldest=502 required=$((0x0160)) ;;  # Server 2003; and HIGH_ENTROPY_VA
    esac
    field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }
    subsystem=$(($(field MajorSubsystemVersion) * 100 + $(field MinorSubsystemVersion)))
    [ "$subsystem" -le "$oldest" ] || fail "subsystem version $subsystem is newer than $oldest"
    flags=$((16#$(field DllCharacteristics)))
    [ $((flags & required)) = "$required" ] ||
        fail "DllCharacteristics $(printf '%#x' "$flags") lack $(printf '%#x' $((required & ~flags)))"
}

if [ -n "$PROGRAM_IMPORTS" ]; then
    check_loading
    echo "$MODULE: subsystem version $subsystem; $(wc -l <<<"$imports") imports, all listed;" \
        "DllCharacteristics $(printf '%#x' "$flags")"
    exit 0
fi

exports=$("$OBJDUMP" -p "$MODULE" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ' | sed 's/ $//')
[ "$exports" = "$EXPECTED_EXPORTS" ] || fail "exports are '$exports', expected '$EXPECTED_EXPORTS'"

# Each section is two lines: its name, sizes and addresses, then its flags.
shared=$("$OBJDUMP" -h "$MODULE" | { grep -B1 'SHARED' || true; } | awk '/^ *[0-9]+ /{print $2}' | tr '\n' ' ')
[ -z "$shared" ] || fail "shared sections: $shared"
check_loading

echo "$ARCH module: exports '$exports'; no shared section;" \
    "$(wc -l <<<"$imports") imports, all listed; DllCharacteristics $(printf '%#x' "$flags")"
