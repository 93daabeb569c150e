#!/usr/bin/env bash
# Fuzzes one target (or all of them in turn) for a number of seconds.
#
#   scripts/fuzz.sh TARGET SECONDS     e.g. scripts/fuzz.sh fuzz_pfx 600
#   scripts/fuzz.sh all SECONDS        every target, SECONDS each
#
# Configures build-fuzz/ with clang-14 and ORVEL_FUZZ=ON, builds the target,
# runs it on a copy of its committed corpus (fuzz/corpus/TARGET) with the
# limits below, merges what added coverage back into the committed corpus
# (minimised with -merge=1) and prints executions and executions per second.
# Crashing inputs land in fuzz/crashes/TARGET/ (not committed); once fixed,
# copy each into fuzz/corpus/TARGET/ so the regression test replays it.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
targets=(fuzz_object_directory fuzz_key_directory fuzz_certificate_entry fuzz_der
         fuzz_whole_card fuzz_pfx)

if [[ $# -ne 2 ]]; then
  echo "usage: $0 TARGET|all SECONDS   (targets: ${targets[*]})" >&2
  exit 2
fi
what="$1"
seconds="$2"
jobs="${FUZZ_BUILD_JOBS:-2}"
if [[ "$what" == all ]]; then
  run=("${targets[@]}")
else
  run=("$what")
fi

build=build-fuzz
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake --preset fuzz >/dev/null
fi
if ! cmake --build $build -j"$jobs" --target "${run[@]}" >$build/fuzz-build.log 2>&1; then
  tail -40 $build/fuzz-build.log >&2
  exit 1
fi

# One process, one job: libFuzzer's default (-jobs=1 -workers=1 would only move the
# output into fuzz-0.log).
limits=(-malloc_limit_mb=64 -rss_limit_mb=2048 -timeout=1)
# FUZZ_FLAGS adds libFuzzer flags to the run (not to the merge). For long runs
# "-entropic=0" with ASAN_OPTIONS=quarantine_size_mb=16:malloc_context_size=0
# gives about 1.6 times the executions a second on the card targets; the checks
# are the same, a report just lacks the allocation's stack (replay the crashing
# input with the default options to get it).
read -r -a extra <<<"${FUZZ_FLAGS:-}"
# A small quarantine: the default 256 MB cycles through fresh pages that this
# machine is slow to fault in (about three times fewer executions per second).
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}"
export QT_QPA_PLATFORM=offscreen

for target in "${run[@]}"; do
  corpus="fuzz/corpus/$target"
  crashes="fuzz/crashes/$target"
  work="$build/fuzz-work/$target"
  mkdir -p "$corpus" "$crashes" "$work"
  rm -rf "$work/corpus" "$work/merged"
  cp -r "$corpus" "$work/corpus"
  log="$work/fuzz.log"
  echo "== $target: ${seconds}s on $(ls "$corpus" | wc -l) corpus inputs"
  start=$(date +%s)
  set +e
  "$build/bin/$target" "${limits[@]}" "${extra[@]}" \
    -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$work/corpus" >"$log" 2>&1
  status=$?
  set -e
  end=$(date +%s)
  execs=$(grep -a 'stat::number_of_executed_units' "$log" | tail -1 | awk '{print $2}')
  elapsed=$((end - start))
  if [[ -n "$execs" && $elapsed -gt 0 ]]; then
    echo "   executions: $execs in ${elapsed}s ($((execs / elapsed)) exec/s)"
  else
    echo "   no final statistics (see $log)"
  fi
  if [[ $status -ne 0 ]]; then
    echo "   FOUND A PROBLEM (exit $status): $(ls "$crashes" | tail -3 | tr '\n' ' ')"
    grep -a -m3 'ERROR\|runtime error\|SUMMARY' "$log" | sed 's/^/   /' || true
  fi
  # Keep only the inputs that add coverage: the committed corpus first, then
  # what this run found.
  mkdir -p "$work/merged"
  "$build/bin/$target" "${limits[@]}" -merge=1 \
    "$work/merged" "$corpus" "$work/corpus" >"$work/merge.log" 2>&1 || true
  # Inputs named crash-* (once crashing, now fixed) stay whatever they add.
  if [[ -n "$(ls "$work/merged")" ]]; then
    find "$corpus" -maxdepth 1 -type f ! -name 'crash-*' -delete
    for f in "$work/merged"/*; do
      kept=0
      for c in "$corpus"/crash-*; do
        if [[ -f $c ]] && cmp -s "$f" "$c"; then kept=1; fi
      done
      [[ $kept == 1 ]] || cp "$f" "$corpus"/
    done
  fi
  echo "   corpus: $(ls "$corpus" | wc -l) inputs, $(du -sk "$corpus" | cut -f1) KiB"
done
