#!/usr/bin/env bash
# Builds the extension in a private build directory and stages an importable
# package there, so several developers can run pytest side by side without
# installing into site-packages:
#   tools/dev_python.sh build/me && PYTHONPATH=build/me/pkg python3 -m pytest -q tests/python
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:?usage: tools/dev_python.sh BUILD_DIR [cmake args...]}
shift
cmake -S . -B "$dir" -G Ninja -DKOGANE_BUILD_PYTHON=ON -DKOGANE_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j 2 --target _kogane
mkdir -p "$dir/pkg/kogane"
cp python/kogane/*.py python/kogane/*.pyi python/kogane/py.typed python/kogane/*.css "$dir/pkg/kogane/"
cp "$dir"/_kogane*.so "$dir/pkg/kogane/"
