#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite through CTest:
#   build/        gcc, warnings as errors: every test (unit, lab, e2e)
#   build-tsan/   clang + ThreadSanitizer: the engine's unit and lab tests
#   build-asan/   clang + AddressSanitizer/UndefinedBehaviorSanitizer: every test but the end-to-end
#                 one (timing-bound, and its code paths are covered here by the unit tests) and the
#                 fuzz smoke runs
# Exits non-zero on the first tree with a failure. The lab tests create network namespaces and
# need root; run as an ordinary user they report themselves as skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh

jobs=$(nproc)
failed=()

run_tree() {
  local dir=$1; shift
  local label=$1; shift
  echo "=== $dir: configure and build"
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >"$root/$dir.configure.log" 2>&1 ||
    { cat "$root/$dir.configure.log"; return 1; }
  cmake --build "$root/$dir" -j "$jobs"
  echo "=== $dir: ctest ${label:+-L $label}"
  # ThreadSanitizer needs a fixed memory layout; without address randomisation it works on every
  # kernel, whatever its mmap randomisation bits.
  local launcher=()
  if [[ $dir == build-tsan ]] && command -v setarch >/dev/null; then
    launcher=(setarch "$(uname -m)" -R)
  fi
  (cd "$root/$dir" && "${launcher[@]}" ctest --output-on-failure --no-tests=error -j "$jobs" ${label:+-L "$label"})
}

# The package is made from this tree, so it is configured for the prefix the package installs to.
run_tree build "" -DTARVELO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr || failed+=(build)

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
run_tree build-tsan "unit|lab" -DCMAKE_CXX_COMPILER=clang++ -DTARVELO_TSAN=ON \
  -DTARVELO_ENGINE_ONLY=ON -DTARVELO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo || failed+=(build-tsan)
unset TSAN_OPTIONS

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_tree build-asan "unit|gui|lab|fuzz" -DCMAKE_CXX_COMPILER=clang++ -DTARVELO_ASAN=ON -DTARVELO_FUZZ=ON \
  -DTARVELO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo || failed+=(build-asan)

if ((${#failed[@]})); then
  echo "FAILED in: ${failed[*]}"
  exit 1
fi
echo "All test trees passed."
