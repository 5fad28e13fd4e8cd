#!/usr/bin/env bash
# Signs one Windows program or module in place with Authenticode (osslsigncode, SHA-256): with
# the PKCS#12 file KVSHAKE_SIGN_PKCS12 and its password KVSHAKE_SIGN_PASSWORD, timestamped at
# KVSHAKE_SIGN_TIMESTAMP_URL (RFC 3161) when that is set. NSIS's finalize hooks run it too.
#   sign.sh FILE
set -euo pipefail
FILE=$1
: "${KVSHAKE_SIGN_PKCS12:?names the signing certificate}" "${KVSHAKE_SIGN_PASSWORD?}"
timestamp=()
[ -n "${KVSHAKE_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$KVSHAKE_SIGN_TIMESTAMP_URL")
# The password goes through standard input, never on a command line.
printf '%s' "$KVSHAKE_SIGN_PASSWORD" |
    osslsigncode sign -pkcs12 "$KVSHAKE_SIGN_PKCS12" -readpass - -h sha256 \
        -n "Kovin Shake BHO" "${timestamp[@]}" -in "$FILE" -out "$FILE.signed" >/dev/null
mv -f "$FILE.signed" "$FILE"
