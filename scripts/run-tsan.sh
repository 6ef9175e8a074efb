#!/usr/bin/env bash
# The kiosk's threaded code under ThreadSanitizer: the voice engine (the only code of the
# kiosk that runs a thread of its own) and its test that builds and destroys engines with
# words in flight, in ./build-tsan. Only these targets are built, so the run takes a minute
# or two. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DNX7_TEST_TIMEOUT_SCALE=5 >/dev/null
cmake --build build-tsan --parallel "$(nproc)" --target test_speechthreads
# halt_on_error with exitcode: the first report ends the test with a failure. What lies
# outside the kiosk (libraries built without the sanitizer) is listed, with the reason, in
# the suppressions file.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$PWD/tests/sanitizers/tsan.supp"
# Fewer rounds than the plain suite: every round synthesises speech, several times slower here.
NX7_SPEECH_ROUNDS="${NX7_SPEECH_ROUNDS:-25}" build-tsan/tests/test_speechthreads
