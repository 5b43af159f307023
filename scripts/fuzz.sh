#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset) and runs each for SECONDS (default 600), one
# after the other, on a working copy of its seed corpus and its regression inputs. New crashes,
# hangs, leaks and sanitizer reports are left in build/fuzz/artifacts/TARGET/; keep each input
# under tests/fuzz/regression/TARGET/ once its cause is fixed. Exits non-zero if any target
# failed. The last line of each run ("Done ... cov: ... ft: ...") is collected in
# build/fuzz/summary.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
export TZ=Asia/Tokyo
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
targets=(user_data_file cli_json profile engine_files csv_readers monitor_image monitor_link)
summary=build/fuzz/summary.txt
: >"$summary"
failed=0
for t in "${targets[@]}"; do
  work=build/fuzz/corpus/$t
  artifacts=build/fuzz/artifacts/$t/
  mkdir -p "$work" "$artifacts"
  log=build/fuzz/$t.log
  echo "== $t (${seconds}s)"
  set +e
  build/fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=40000 -print_final_stats=1 -artifact_prefix="$artifacts" \
    "$work" "tests/fuzz/corpus/$t" "tests/fuzz/regression/$t" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  echo "$t: exit $rc, executions ${runs:-?}, $last" | tee -a "$summary"
  if [[ $rc -ne 0 ]]; then
    failed=1
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 || true
  fi
done
exit $failed
