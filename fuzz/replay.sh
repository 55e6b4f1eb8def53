#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz with clang (when missing or stale)
# and replays each target over its kept corpus, fuzz/corpus/<target>/.
# Exits nonzero when a build fails or any corpus input crashes a target.
#   fuzz/replay.sh            replay every target
#   fuzz/replay.sh TARGET...  replay only these
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
TARGETS=("$@")
if ((${#TARGETS[@]} == 0)); then
  TARGETS=(fuzz_settings_reply fuzz_dir_reply fuzz_version_reply fuzz_transfer_reply fuzz_record_reader)
fi

if [[ ! -f $BUILD/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTQ318_FUZZ=ON -DTQ318_TESTS=OFF -DTQ318_BENCH=OFF >/dev/null
fi
ninja -C "$BUILD" "${TARGETS[@]}" >/dev/null

failed=0
for t in "${TARGETS[@]}"; do
  corpus=$ROOT/fuzz/corpus/$t
  if [[ ! -d $corpus ]]; then
    echo "replay: $t: no corpus folder $corpus" >&2
    failed=1
    continue
  fi
  if "$BUILD/bin/$t" -runs=0 "$corpus" >"$BUILD/$t.replay.log" 2>&1; then
    echo "replay: $t: $(find "$corpus" -type f | wc -l) inputs ok"
  else
    echo "replay: $t: FAILED (log follows)" >&2
    tail -40 "$BUILD/$t.replay.log" >&2
    failed=1
  fi
done
exit $failed
