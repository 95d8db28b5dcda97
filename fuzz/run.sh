#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it: by default a short run from
# the committed corpus (scripts/test.sh); any arguments go to libFuzzer, e.g.
#   fuzz/run.sh -max_total_time=3600 -jobs=2
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MORVALIND_FUZZ_BUILD:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVALIND_FUZZ=ON -DMORVALIND_TESTS=OFF -DMORVALIND_BENCH=OFF \
  -DMORVALIND_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$build" --target module_fuzz -j "${MORVALIND_JOBS:-2}"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
[ $# -gt 0 ] || set -- -max_total_time=30
# Leak checking is on: every input ends with the card closed.
"$build/bin/module_fuzz" -max_len=512 -timeout=30 -artifact_prefix="$build/" "$@" \
  "$corpus" fuzz/corpus
