#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks (all, or the one named: ./bench.sh chart).
# Each prints its figures as lines "figure: NAME VALUE UNIT".
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
names=("$@")
[[ ${#names[@]} -gt 0 ]] || names=(dispatcher chart measure gauge)
for name in "${names[@]}"; do
    bin="build/release/bin/bench_$name"
    [[ -x "$bin" ]] || { echo "no benchmark named $name" >&2; exit 1; }
    echo "== $name"
    "$bin"
done
