#!/usr/bin/env bash
# Builds the whole suite a second time, under AddressSanitizer and UndefinedBehaviorSanitizer
# (./build-asan), and runs it there. A sanitizer report ends the test that made it, so the
# run fails. NX7_SANITIZE_BUILD_ONLY=1: build only.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# Sanitized code runs several times slower: every test is given three times its limit.
cmake -S . -B build-asan "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DNX7_TEST_TIMEOUT_SCALE=3 >/dev/null
cmake --build build-asan --parallel "$(nproc)"
[ "${NX7_SANITIZE_BUILD_ONLY:-0}" = 1 ] && exit 0
cd build-asan
# halt_on_error: the first report ends the process with a failure code that ctest sees.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Leaks are reported except those of system libraries listed (with the reason) in the file.
export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitizers/lsan.supp:print_suppressions=0"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 360
