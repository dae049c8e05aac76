#!/bin/sh
# Wall time of "tovami --list-agents json" beside its baseline, "ps -ef | grep claude", in the
# same run and with at least 100 processes on the machine (idle sleepers are added if fewer run).
# Usage: bench/list_agents.sh [path/to/tovami] [runs]
set -eu
tovami=${1:-build/tovami}
runs=${2:-50}
sleepers=""
trap 'for p in $sleepers; do kill "$p" 2>/dev/null || true; done' EXIT INT TERM
while [ "$(ls -d /proc/[0-9]* 2>/dev/null | wc -l)" -lt 100 ]; do
  sleep 600 & sleepers="$sleepers $!"
done
echo "processes: $(ls -d /proc/[0-9]* 2>/dev/null | wc -l)"
if command -v hyperfine >/dev/null 2>&1; then
  hyperfine -N --warmup 5 --runs "$runs" "$tovami --list-agents json" 2>/dev/null || \
    hyperfine --warmup 5 --runs "$runs" "$tovami --list-agents json"
  hyperfine --warmup 5 --runs "$runs" "ps -ef | grep claude"
else
  python3 - "$tovami" "$runs" <<'PY'
import statistics, subprocess, sys, time
tovami, runs = sys.argv[1], int(sys.argv[2])
for name, argv, shell in (("tovami --list-agents json", [tovami, "--list-agents", "json"], False),
                          ("ps -ef | grep claude", "ps -ef | grep claude", True)):
    times = []
    for i in range(runs + 5):
        start = time.perf_counter()
        subprocess.run(argv, shell=shell, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if i >= 5:
            times.append((time.perf_counter() - start) * 1000)
    print(f"{name}: median {statistics.median(times):.1f} ms, min {min(times):.1f} ms over {runs} runs")
PY
fi
