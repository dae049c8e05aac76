#!/bin/sh
# Runs libFuzzer targets for SECONDS each: fuzz.sh SECONDS path/to/NAME_fuzzer...
# Seeds come from fuzz/corpus/NAME (read only); what a run learns is kept beside the binary in
# corpus/NAME, so the next run starts from there. A crashing input lands in artifacts/ and the
# script fails. One summary line per target goes to standard output and to summaries/NAME.txt.
set -eu
seconds=$1
shift
source_dir=$(cd "$(dirname "$0")/.." && pwd)
status=0
for binary in "$@"; do
  name=$(basename "$binary" _fuzzer)
  work=$(cd "$(dirname "$binary")" && pwd)
  mkdir -p "$work/corpus/$name" "$work/artifacts" "$work/summaries" "$work/logs"
  log="$work/logs/$name.log"
  dict="$source_dir/fuzz/$name.dict"
  set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/$name-"
  [ -f "$dict" ] && set -- "$@" -dict="$dict"
  # The targets' scratch files (libFuzzer ends without running exit handlers): in memory when possible.
  TMPDIR=$(mktemp -d -p "$([ -w /dev/shm ] && echo /dev/shm || echo /tmp)" tovami-fuzz.XXXXXX)
  export TMPDIR
  if "$binary" "$@" "$work/corpus/$name" "$source_dir/fuzz/corpus/$name" >"$log" 2>&1; then
    outcome="no findings"
  else
    outcome="FAILED (see $log and $work/artifacts)"
    status=1
  fi
  rm -rf "$TMPDIR"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  corpus=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -n 1 | sed 's/corp: //')
  line="fuzz $name: ${runs:-?} runs in ${seconds} s, corpus ${corpus:-?} (inputs/bytes), $outcome"
  echo "$line" | tee "$work/summaries/$name.txt"
  [ "$outcome" = "no findings" ] || tail -n 40 "$log"
done
exit $status
