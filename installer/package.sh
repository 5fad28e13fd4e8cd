#!/usr/bin/env bash
# Builds the signed setup program KVShakeSetup-VERSION.exe and the signed MSI packages
# KVShake-VERSION-x86.msi and KVShake-VERSION-x64.msi (installer/msi.py) from the two modules:
#   package.sh OUT_DIR I686_MODULE X86_64_MODULE
# It signs copies of both modules, and NSIS's finalize hooks sign the uninstaller before it is
# packed and then the setup program. A release signs with the certificate that
# KVSHAKE_SIGN_PKCS12 and KVSHAKE_SIGN_PASSWORD name; without them a throwaway test certificate
# is made in OUT_DIR/test-signing, so the signing path always runs. The version is the modules'
# own (their version resource, made from the project's version). Prints the setup's path, then the
# packages'.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
OUT=$(mkdir -p "$1" && cd "$1" && pwd)
I686=$2 X86_64=$3

# A self-signed code-signing certificate, made anew for each package; its key lives only in the
# PKCS#12 file beside it.
make_test_certificate() {
    local dir=$OUT/test-signing
    rm -rf "$dir"
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 \
        -subj "/CN=KVShake TEST code signing, not for release" \
        -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" \
        -keyout "$dir/test-only.key" -out "$dir/KVShake-TEST-ONLY-codesign.crt" 2>/dev/null
    openssl pkcs12 -export -inkey "$dir/test-only.key" -in "$dir/KVShake-TEST-ONLY-codesign.crt" \
        -passout pass:test-only -out "$dir/KVShake-TEST-ONLY-codesign.p12"
    rm -f "$dir/test-only.key"
    export KVSHAKE_SIGN_PKCS12=$dir/KVShake-TEST-ONLY-codesign.p12 KVSHAKE_SIGN_PASSWORD=test-only
    unset KVSHAKE_SIGN_TIMESTAMP_URL
    echo "==> signing with a throwaway TEST certificate ($dir); set KVSHAKE_SIGN_PKCS12 and" \
        "KVSHAKE_SIGN_PASSWORD for a release" >&2
}

if [ -n "${KVSHAKE_SIGN_PKCS12:-}" ]; then
    [ -f "$KVSHAKE_SIGN_PKCS12" ] || { echo "no certificate at $KVSHAKE_SIGN_PKCS12" >&2; exit 1; }
    export KVSHAKE_SIGN_PKCS12 KVSHAKE_SIGN_PASSWORD=${KVSHAKE_SIGN_PASSWORD:-}
else
    make_test_certificate
fi

modules=$OUT/modules
rm -rf "$modules" "$OUT"/KVShakeSetup-*.exe "$OUT"/KVShake-*.msi
mkdir -p "$modules/i686" "$modules/x86_64"
cp "$I686" "$modules/i686/KVShake.dll"
cp "$X86_64" "$modules/x86_64/KVShake.dll"
"$HERE/sign.sh" "$modules/i686/KVShake.dll"
"$HERE/sign.sh" "$modules/x86_64/KVShake.dll"

# A test build only: KVSHAKE_TEST_ACCOUNT_TYPE (User or Admin) is the account type that the setup
# program's elevation check sees instead of the user's own.
test_defines=()
[ -n "${KVSHAKE_TEST_ACCOUNT_TYPE:-}" ] &&
    test_defines=(-DKVSHAKE_TEST_ACCOUNT_TYPE="$KVSHAKE_TEST_ACCOUNT_TYPE")
makensis -V2 -INPUTCHARSET UTF8 -DKVSHAKE_I686="$modules/i686/KVShake.dll" \
    -DKVSHAKE_X86_64="$modules/x86_64/KVShake.dll" -DKVSHAKE_OUT_DIR="$OUT" \
    -DKVSHAKE_SIGN="$HERE/sign.sh" "${test_defines[@]}" "$HERE/KVShake.nsi" >&2
ls "$OUT"/KVShakeSetup-*.exe
x86=$("$HERE/msi.py" "$OUT" x86 "$modules/i686/KVShake.dll")
x64=$("$HERE/msi.py" "$OUT" x64 "$modules/i686/KVShake.dll" "$modules/x86_64/KVShake.dll")
for package in "$x86" "$x64"; do
    "$HERE/sign.sh" "$package"
    echo "$package"
done
