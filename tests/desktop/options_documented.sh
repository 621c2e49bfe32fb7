#!/usr/bin/env bash
# Every long option that `tidewave [COMMAND] --help` lists is described in the
# manual page and offered by the bash completion.
# Usage: options_documented.sh TIDEWAVE MANPAGE COMPLETION
set -euo pipefail
tidewave=$1 man=$2 completion=$3
missing=0
for command in "" list analyse render play demo; do
  # Option lines start with two spaces, then "-x," or "--name".
  options=$("$tidewave" $command --help | sed -n 's/^  \(-[a-zA-Z], *\)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p' | sort -u)
  for option in $options; do
    escaped=${option//-/\\\\-}
    if ! grep -q -- "$escaped\\b" "$man"; then
      echo "the manual page does not describe ${command:-tidewave} $option"
      missing=1
    fi
    if ! grep -q -- "$option\\b" "$completion"; then
      echo "the bash completion does not offer ${command:-tidewave} $option"
      missing=1
    fi
  done
done
exit $missing
