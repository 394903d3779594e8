#!/usr/bin/env bash
# Fails when a C++ file of the tree is not as clang-format (the root's .clang-format) writes it,
# naming each place. CI runs it first: it takes seconds.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/tools/install-missing.sh"
install_missing clang-format git
cd "$here"
if git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "format-check: $(git ls-files '*.cpp' '*.h' | wc -l) files as clang-format writes them"
else
    echo "format-check: FAILED: run clang-format -i on the files above" >&2
    exit 1
fi
