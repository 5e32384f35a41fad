#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs
# every test, then runs the threaded serial tests again under ThreadSanitizer and fuzzes the
# packet framer and the archive reader briefly. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

# The servers the integration tests start on their own loopback ports: Prometheus for the
# metrics test, InfluxDB and mosquitto for the push tests. Only the tests install them: each
# brings a network service that an operator's machine does not need, so its own service is
# switched off.
install_test_server() {
    local label=$1 service=$2
    shift 2
    local missing=()
    for p in "$@"; do
        [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true) == "install ok installed" ]] ||
            missing+=("$p")
    done
    [[ ${#missing[@]} -gt 0 ]] || return 0
    local sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    echo "Installing: ${missing[*]} (for the $label test)"
    "${sudo[@]}" apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || { echo "${missing[*]} can't be installed: the $label test will be skipped"; return 0; }
    if [[ -d /run/systemd/system ]]; then
        "${sudo[@]}" systemctl disable --now "$service" || true
    fi
}
install_test_server metrics prometheus prometheus
install_test_server push influxdb influxdb
install_test_server push mosquitto mosquitto mosquitto-clients

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
# Tests mostly wait on lines, timers and servers: they run as many at once as there are cores.
jobs=$(nproc)

echo "== build (debug: address and undefined-behaviour sanitizers)"
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
echo "== tests (debug; the server tests have the labels prometheus and push)"
ctest --test-dir build/debug --output-on-failure --timeout 300 -j "$jobs"

# The alert rules shipped for Prometheus: valid, and firing as their tests say.
if command -v promtool >/dev/null; then
    echo "== alert rules (promtool check rules, test rules)"
    promtool check rules docs/vg57-alerts.yml
    (cd docs && promtool test rules vg57-alerts.test.yml)
fi

# The service unit as systemd reads it, and how much of the system it exposes (at most 2.5 of
# 10; the bare unit of a service is 9.6).
if command -v systemd-analyze >/dev/null; then
    echo "== the service unit (systemd-analyze verify, security)"
    unit_dir=$(mktemp -d)
    sed "s|@VG57_BINDIR@|$PWD/build/debug/bin|" tools/cli/vg57-log@.service.in \
        >"$unit_dir/vg57-log@chamber.service"
    systemd-analyze verify "$unit_dir/vg57-log@chamber.service"
    systemd-analyze security --offline=true --threshold=25 "$unit_dir/vg57-log@chamber.service" |
        tail -1
    test "${PIPESTATUS[0]}" -eq 0
    rm -r "$unit_dir"
fi

echo "== build (thread sanitizer: threaded tests only)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target tsan_tests
echo "== threaded tests (thread sanitizer)"
ctest --test-dir build/tsan -L threaded --output-on-failure --timeout 300 -j "$jobs"

# A fuzzer's own status decides: its summary lines are shown, but a filter's status must never
# stand in for it (under pipefail, "|| true" after the pipe hid every crash).
fuzz() {
    local name=$1 seconds=$2 status=0
    shift 2
    mkdir -p "build/fuzz/$name-corpus"
    build/fuzz/bin/"$name" -max_total_time="$seconds" -print_final_stats=1 \
        "build/fuzz/$name-corpus" "$@" >"build/fuzz/$name.log" 2>&1 || status=$?
    grep -E "^(stat::number_of_executed_units|Done|==.*ERROR|SUMMARY|artifact_prefix)" \
        "build/fuzz/$name.log" || true
    [[ $status -eq 0 ]] || { tail -n 40 "build/fuzz/$name.log"; return 1; }
}

echo "== fuzzing the packet framer (30 s)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
fuzz fuzz_framer 30 tests/fuzz/corpus
echo "== fuzzing the archive line reader (20 s)"
fuzz fuzz_archive 20 tests/fuzz/archive-corpus
echo "all tests passed"
