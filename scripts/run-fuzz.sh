#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (./build-fuzz) and runs each for a
# bounded time (NX7_FUZZ_SECONDS, 60 by default; as many at once as there are cores) from
# its committed corpus (tests/fuzz/corpus/NAME). Inputs that once crashed a target stay in
# tests/fuzz/regressions/NAME and are run first. A crash, leak or sanitizer report fails
# the run; the input is kept in build-fuzz/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${NX7_FUZZ_SECONDS:-60}"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CXX=clang++ cmake -S . -B build-fuzz "${generator[@]}" "${launcher[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNX7_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=(layout textrecord connectionfile escposstatus)
build=()
for t in "${targets[@]}"; do build+=(--target "fuzz_$t"); done
cmake --build build-fuzz --parallel "$(nproc)" "${build[@]}"
mkdir -p build-fuzz/crashes build-fuzz/logs
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
export seconds
# One target: the inputs that once crashed it, then the bounded run from its corpus.
fuzz_target() {
  local t=$1 regressions="tests/fuzz/regressions/$1" scratch
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    build-fuzz/tests/fuzz/fuzz_$t "$regressions"/* || return 1
  fi
  # New inputs go to a scratch folder: the committed corpus stays small.
  scratch="$(mktemp -d)"
  build-fuzz/tests/fuzz/fuzz_$t "$scratch" "tests/fuzz/corpus/$t" -max_total_time="$seconds" \
    -max_len=4096 -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$t-"
  local status=$?
  rm -rf "$scratch"
  return $status
}
# Each target is one process on one core: as many run at once as there are cores, each for
# its full time. Each one's output is shown whole when it ends.
fuzz_logged() {
  local log="build-fuzz/logs/$1.log" status=0
  fuzz_target "$1" >"$log" 2>&1 || status=$?
  cat "$log"
  [ "$status" -eq 0 ] || echo "run-fuzz: fuzz_$1 failed (status $status), see $log" >&2
  return "$status"
}
export -f fuzz_target fuzz_logged
printf '%s\n' "${targets[@]}" | xargs -P "$(nproc)" -I{} bash -c 'fuzz_logged "$1"' _ {}
