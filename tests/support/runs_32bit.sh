#!/usr/bin/env bash
# Answers "yes" when this machine can start 32-bit Windows programs under Wine, else "no".
# Some kernels refuse 32-bit programs altogether, whatever packages are installed, so the 32-bit
# loader itself is started (it needs no prefix). ./run asks once and exports the answer as
# KVSHAKE_RUNS_32BIT, which every other part takes as it is; set to "no" by hand, it forces the
# "cannot" path on any machine.
set -u
case "${KVSHAKE_RUNS_32BIT:-}" in
    yes | no) echo "$KVSHAKE_RUNS_32BIT"; exit 0 ;;
esac
LOADER=/usr/lib/wine/wine
# A loader the kernel refuses makes the shell read it as a script: only Wine's own answer counts.
if [ -x "$LOADER" ] && version=$(timeout 30 "$LOADER" --version 2>/dev/null) &&
    [[ $version == wine-* ]]; then
    echo yes
else
    echo no
fi
