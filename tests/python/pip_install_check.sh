#!/usr/bin/env bash
# `pip install ./python` works without a package index: into a fresh virtual
# environment that sees the system's NumPy, then the installed package (not
# the source tree) loads the library and reports its version.
#
# Fault caught: a package that needs a download to build, one that installs
# without its modules, or an import that only works from the source tree.
#
#   pip_install_check.sh LIBRARY SOURCE_DIR
set -u
library="$1" source="$2"
python=/usr/bin/python3
if ! "$python" -c "import numpy, venv, ensurepip" >/dev/null 2>&1; then
  echo "SKIP: /usr/bin/python3 lacks numpy or venv (tools/setup-deps.sh installs them)"
  exit 77
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-pip.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$python" -m venv --system-site-packages "$work/venv" || exit 1
# A copy, so that the build leaves nothing in the source tree.
cp -r "$source/python" "$work/src"
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
  "$work/venv/bin/pip" install --no-index -q "$work/src" || exit 1
cd "$work" || exit 1
VARNEL_LIBRARY="$library" "$work/venv/bin/python" - <<'PY' || exit 1
import os, varnel
assert "/venv/" in varnel.__file__, varnel.__file__
assert varnel.version() == 0x00C90502, hex(varnel.version())
print("installed at", os.path.dirname(varnel.__file__), "library version", hex(varnel.version()))
PY
