#!/usr/bin/env bash
# Runs the Python package's tests (python/tests) with an interpreter that has
# NumPy and pytest (Debian's python3-numpy and python3-pytest), against the
# shared library and the FUSE camera head of this build tree.
#
#   run_pytest.sh LIBRARY CAMSIM SOURCE_DIR [pytest args...]
# Exit 77 (CTest skip) when no interpreter has both.
set -u
library="$1" camsim="$2" source="$3"
shift 3
python=""
for candidate in /usr/bin/python3 python3; do
  if command -v "$candidate" >/dev/null 2>&1 &&
    "$candidate" -c "import numpy, pytest" >/dev/null 2>&1; then
    python="$candidate"
    break
  fi
done
if [ -z "$python" ]; then
  echo "SKIP: no python3 with numpy and pytest (tools/setup-deps.sh installs them)"
  exit 77
fi
export VARNEL_LIBRARY="$library" VARNEL_CAMSIM="$camsim"
export PYTHONPATH="$source/python${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1
exec "$python" -m pytest -q -p no:cacheprovider "$source/python/tests" "$@"
