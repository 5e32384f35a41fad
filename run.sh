#!/usr/bin/env bash
# Installs what is missing, builds the release program and starts it. Unless COM3 already maps
# to a real device (see README: ports), the gauge simulator plays the gauge on COM3 meanwhile.
#   ./run.sh            the program, with the simulator when no real gauge is set up
#   ./run.sh --no-sim   the program alone
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target vg57 vg57-sim

ports="${XDG_CONFIG_HOME:-$HOME/.config}/vg57/ports"
use_sim=1
[[ "${1:-}" == "--no-sim" ]] && use_sim=0
if [[ -L "$ports/COM3" && "$(readlink "$ports/COM3")" != /dev/pts/* ]]; then
    echo "COM3 maps to $(readlink "$ports/COM3"): using the real gauge"
    use_sim=0
fi
if [[ $use_sim -eq 1 ]]; then
    build/release/bin/vg57-sim --com 3 </dev/null &
    sim=$!
    trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
    for _ in $(seq 50); do [[ -L "$ports/COM3" ]] && break; sleep 0.1; done
    echo "gauge simulator on COM3 (pid $sim)"
fi
build/release/bin/vg57
