#!/usr/bin/env bash
# Runs a Windows test program in the Wine environment that testenv.sh started:
#   wine-run.sh ENV_DIR LOADER PROGRAM [ARGS...]
set -euo pipefail
ENV_DIR=$1 LOADER=$2
shift 2
if [ ! -f "$ENV_DIR/env.sh" ]; then
    echo "no test environment at $ENV_DIR: run the tests through ctest" >&2
    exit 1
fi
# shellcheck disable=SC1091
. "$ENV_DIR/env.sh"
# Wine's WinINet takes a proxy from these too; the tests name the user's proxy themselves.
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
exec "$LOADER" "$@"
