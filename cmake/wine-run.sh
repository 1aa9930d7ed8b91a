#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine (CTest's cross-compiling
# emulator), in the prefix that cmake/wine-prefix.sh chooses and creates.
set -eu
# shellcheck source=cmake/wine-prefix.sh
. "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/wine-prefix.sh"
varnel_wine_prefix "$1"
prog="$1"
shift
case "$prog" in
  /*) ;;
  *) prog="./$prog" ;;
esac
exec wine "$prog" "$@"
