#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them: by default a short run of
# each (scripts/test.sh) from its committed corpus (fuzz/corpus,
# fuzz/<target minus _fuzz>_corpus); any arguments go to libFuzzer for all, e.g.
#   fuzz/run.sh -max_total_time=3600 -jobs=2
# MORVALIND_FUZZ_TARGETS picks the targets (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MORVALIND_FUZZ_BUILD:-build/fuzz}
targets=(${MORVALIND_FUZZ_TARGETS:-module_fuzz capture_fuzz lineup_fuzz channel_file_fuzz psi_fuzz
  satip_request_fuzz satip_response_fuzz satipcard_fuzz})
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVALIND_FUZZ=ON -DMORVALIND_TESTS=OFF -DMORVALIND_BENCH=OFF \
  -DMORVALIND_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "${MORVALIND_JOBS:-2}"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for target in "${targets[@]}"; do
  echo "-- $target"
  mkdir -p "$corpus/$target"
  arguments=("$@")
  seeds=()
  max_len=512
  case $target in
    module_fuzz) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=30); seeds=(fuzz/corpus) ;;
    capture_fuzz) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=15); seeds=(fuzz/capture_corpus) ;;
    lineup_fuzz) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=15)
      seeds=(fuzz/lineup_corpus) max_len=8192 ;;
    channel_file_fuzz) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=12)
      seeds=(fuzz/channel_file_corpus) max_len=4096 ;;
    psi_fuzz) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=12)
      seeds=(fuzz/psi_corpus) max_len=4096 ;;
    # Requests up to the reader's 8 KiB and beyond.
    satipcard_fuzz) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=10)
      seeds=(fuzz/satipcard_corpus) max_len=4096 ;;
    satip_*) [ ${#arguments[@]} -gt 0 ] || arguments=(-max_total_time=10); seeds=(fuzz/${target%_fuzz}_corpus)
      max_len=10000 ;;
  esac
  # Leak checking is on: every input ends with the card closed.
  "$build/bin/$target" -max_len=$max_len -timeout=30 -artifact_prefix="$build/$target-" \
    "${arguments[@]}" "$corpus/$target" "${seeds[@]}"
done
