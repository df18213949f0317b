#!/usr/bin/env bash
# Checks that every C++ file is formatted as .clang-format says; prints the offending lines.
set -eu
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "$(git ls-files '*.cpp' '*.h' | wc -l) files formatted"
