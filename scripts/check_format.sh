#!/usr/bin/env bash
# Fails when clang-format would change any C++ source under version control.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_packages.sh clang-format
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
