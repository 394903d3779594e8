#!/bin/sh
# Runs the Python module's tests with the Python it was built for; exit 77 (ctest: skipped) with
# one line when that Python has no pytest or numpy.
python=$1
shift
if ! "$python" -c "import pytest, numpy" 2>/dev/null; then
    echo "ormelix Python tests skipped: $python has no pytest or numpy (Debian: python3-pytest, python3-numpy)"
    exit 77
fi
# The source tree stays clean of byte code.
export PYTHONDONTWRITEBYTECODE=1
exec "$python" -m pytest -q -p no:cacheprovider "$@"
