#!/usr/bin/env bash
# check-style.sh: fails when a tracked C++ source deviates from .clang-format.
# Fix with: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "style: $(git ls-files '*.cpp' '*.h' | wc -l) files follow .clang-format"
