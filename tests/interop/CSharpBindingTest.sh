#!/usr/bin/env bash
# Compiles the C# binding and its sample with mcs and runs them with mono against the shared
# library and the mock backend: Init, Login and QueryProducts must each answer 200, every
# request must pass the backend's checks, and the log handler must see the SDK's lines without the
# app key.
# Usage: CSharpBindingTest.sh MCS MONO MOCK_BACKEND LIBRARY_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
mcs=$1 mono=$2 mock=$3 library_dir=$4 source_dir=$5 work=$6
rm -rf "$work"
mkdir -p "$work/data" "$work/steamsim"
"$mcs" -nologo -warnaserror -out:"$work/zarn-csharp-sample.exe" "$source_dir/ZarnSdk.cs" "$source_dir/Program.cs"

"$mock" --origin-file "$work/origin" --ca-out "$work/ca.pem" --steamsim-dir "$work/steamsim" \
  --record "$work/requests.jsonl" >"$work/backend.log" 2>&1 &
backend=$!
trap 'kill "$backend" 2>/dev/null || true; wait "$backend" 2>/dev/null || true' EXIT
origin=""
deadline=$((SECONDS + 30))
until [[ -s $work/ca.pem && $origin =~ ^https://127\.0\.0\.1:[0-9]+$ ]]; do
  if ! kill -0 "$backend" 2>/dev/null || ((SECONDS >= deadline)); then
    echo "the mock backend did not report its origin:" && cat "$work/backend.log"
    exit 1
  fi
  sleep 0.1
  origin=$(head -n 1 "$work/origin" 2>/dev/null | tr -d '[:space:]') || true
done

set +e
(cd "$work" && exec env ZARN_SDK_API_ORIGIN="$origin" SSL_CERT_FILE="$work/ca.pem" ZARN_SDK_DATA_HOME="$work/data" \
  ZARN_STEAMSIM_DIR="$work/steamsim" LD_LIBRARY_PATH="$library_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  "$mono" --debug "$work/zarn-csharp-sample.exe") >"$work/output.log" 2>&1
status=$?
set -e
cat "$work/output.log"

fail() { echo "FAIL: $*"; exit 1; }
((status == 0)) || fail "the sample exited with status $status"
grep -q '^Init: code 200,' "$work/output.log" || fail "Init did not answer 200"
grep -q '^Login: code 200,' "$work/output.log" || fail "Login did not answer 200"
grep -q '^QueryProducts: code 200, .*"productId" *: *"gem_pack_small"' "$work/output.log" ||
  fail "QueryProducts did not answer 200 with the catalogue"
grep -q '^log 1: Init AppId:1001,ClientId:' "$work/output.log" || fail "no start-up line through the log handler"
if grep '^log .*zarn-demo-key' "$work/output.log"; then fail "the app key reached the log handler"; fi
[[ -s $work/requests.jsonl ]] || fail "the backend received nothing"
if grep -v '"ok" *: *true' "$work/requests.jsonl"; then fail "the backend refused the requests above"; fi
echo "C# binding: Init, Login and QueryProducts answered 200 through mono"
