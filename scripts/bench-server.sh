#!/usr/bin/env bash
# Benchmark of the survey server on loopback (not part of the tests):
#   - durable submissions per second and latency percentiles with 64 concurrent connections,
#     every request a distinct submission, each answered only after its commit;
#   - the results page's time over 100,000 and over 1,000,000 stored submissions;
#   - submissions' latency while the page and the CSV export are being served;
#   - the server's start-up time and memory (resident, and its peak while the rows load) over
#     20,000, 100,000 and 1,000,000 stored submissions;
#   - nginx on the same machine in the same run, serving static files of the same sizes with the
#     same load, as the ceiling.
# Usage: scripts/bench-server.sh [SECONDS per load run, default 10]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
build=$top/build/bench-server
work=$build/run
connections=64
page_sizes=(100000 1000000)

# nginx serves the ceiling and wrk makes the load. They are not needed by the tests, so they are
# installed here only; a service nginx that Debian starts on installing it is stopped again.
had_nginx=$(dpkg-query -W -f='${Status}' nginx-light 2>/dev/null || true)
"$top/scripts/deps.sh" <(printf 'nginx-light\nwrk\n')
if [[ "$had_nginx" != "install ok installed" ]] && command -v systemctl >/dev/null &&
   systemctl is-active --quiet nginx 2>/dev/null; then
  systemctl disable --now nginx >/dev/null 2>&1 || true
fi
for tool in wrk nginx python3; do
  command -v "$tool" >/dev/null || { echo "bench-server: $tool is missing" >&2; exit 1; }
done

echo "== building tonvale-survey (RelWithDebInfo) in $build"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" -DTONVALE_BUILD_GUI=OFF \
  -DTONVALE_BUILD_TESTS=OFF -DTONVALE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target tonvale-survey -j "$(nproc)" >/dev/null

rm -rf "$work"
mkdir -p "$work/www/Questionnaire" "$work/nginx"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
survey_port=$(free_port)
nginx_port=$(free_port)

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

survey_pid=
startup_ms=
token=bench-token-$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
(umask 077; printf '%s\n' "$token" >"$work/token")
start_survey() {
  : >"$work/survey.out"
  local began
  began=$(date +%s%N)
  "$build/bin/tonvale-survey" --port "$survey_port" --listen 127.0.0.1 --db "$work/survey.db" \
    --max-connections 1024 --admin-token-file "$work/token" \
    --max-pending-per-address 0 --submission-burst 0 >"$work/survey.out" 2>>"$work/survey.log" &
  survey_pid=$!
  pids+=("$survey_pid")
  # The server listens once it has counted every stored row for the page.
  for _ in $(seq 2000); do
    if grep -q listening "$work/survey.out" 2>/dev/null; then
      startup_ms=$((($(date +%s%N) - began) / 1000000))
      return
    fi
    sleep 0.005
  done
  echo "bench-server: the survey server did not start" >&2
  exit 1
}
start_survey

# Every request a different, valid submission, sent the way Tonvale sends it (GET with a body).
cat >"$work/submit.lua" <<'LUA'
local ages = {"none", "under 5", "over 80"}
for years = 5, 79 do ages[#ages + 1] = years .. " years old" end
local sexes = {"none", "male", "female"}
local instruments = {"none", "no", "less than 10 years", "over 10 years"}
local schools = {"none", "no", "music class", "in music university, collage",
                 "graduated from music university, collage"}
local bands = {55, 110, 220, 440, 880, 1760, 3520, 7040}
local counter = 0
local headers = {["Content-Type"] = "application/x-www-form-urlencoded",
                 ["User-Agent"] = "WININET Sample Program"}
function setup(thread) thread:set("id", tostring(math.random(1, 1000000))) end
function init(args) math.randomseed(tonumber(id)) end
request = function()
  counter = counter + 1
  local age = ages[math.random(#ages)]
  local years = tonumber(age:match("^(%d+)")) or 40
  local parts = {string.format("date_time=2026/12/07 %02d:%02d:%02d", math.random(0, 23),
                               math.random(0, 59), math.random(0, 59)),
                 "sex=" .. sexes[math.random(#sexes)], "age=" .. age,
                 "min_freq=" .. math.random(15, 60),
                 "max_freq=" .. (21000 - years * 120 + math.random(-1500, 1500))}
  for _, band in ipairs(bands) do
    local value = math.random(8) == 1 and "not finished" or tostring(math.random(2, 120))
    parts[#parts + 1] = "min_interval" .. band .. "=" .. value
  end
  parts[#parts + 1] = "instrument=" .. instruments[math.random(#instruments)]
  parts[#parts + 1] = "school=" .. schools[math.random(#schools)]
  parts[#parts + 1] = "comment=bench " .. counter .. " & 100% =1+1"
  return wrk.format("GET", "/Questionnaire/TonvaleWrite.asp", headers, table.concat(parts, "&"))
end
LUA

rows() { python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("select count(*) from submissions").fetchone()[0])' "$work/survey.db"; }
# wrk's figures: requests/s, latency percentiles (converted to ms), non-2xx count.
wrk_summary() {
  python3 - "$1" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
def ms(v):
    n, unit = re.match(r"([\d.]+)(us|ms|s)", v).groups()
    return float(n) * {"us": 0.001, "ms": 1, "s": 1000}[unit]
rps = float(re.search(r"Requests/sec:\s+([\d.]+)", text).group(1))
pct = {p: ms(v) for p, v in re.findall(r"^\s+(50|75|90|99)%\s+(\S+)", text, re.M)}
avg = ms(re.search(r"Latency\s+(\S+)", text).group(1))
bad = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
errors = re.search(r"Socket errors: (.*)", text)
print(f"{rps:.0f} {avg:.2f} {pct['50']:.2f} {pct['99']:.2f} {bad.group(1) if bad else 0} "
      f"{(errors.group(1).replace(' ', '') if errors else '-')}")
PY
}

# nginx with the same files: the thank-you page for the write path, the results page's size for
# the results path.
example='date_time=2008/03/05 14:07:09&sex=male&age=30 years old&min_freq=35&max_freq=15000&min_interval55=not finished&min_interval110=not finished&min_interval220=not finished&min_interval440=8&min_interval880=not finished&min_interval1760=not finished&min_interval3520=not finished&min_interval7040=not finished&instrument=less than 10 years&school=music class&comment='
thanks_bytes=$(curl -s --noproxy '*' -X GET --data-binary "$example" \
  "http://127.0.0.1:$survey_port/Questionnaire/TonvaleWrite.asp" -o /dev/null -w '%{size_download}')
cat >"$work/nginx/nginx.conf" <<NGINX
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  sendfile on;
  keepalive_requests 1000000;
  types { text/html asp; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
NGINX

echo "== load: $connections connections, ${seconds}s per run, wrk with 2 threads"
before=$(rows)
wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/submit.lua" \
  "http://127.0.0.1:$survey_port" >"$work/wrk-submit.txt"
after=$(rows)
read -r sub_rps sub_avg sub_p50 sub_p99 sub_bad sub_err < <(wrk_summary "$work/wrk-submit.txt")
durable=$(python3 -c "print(round(($after - $before) / $seconds))")
echo "survey submissions: $((after - before)) stored in ${seconds}s"

# Fills the table to exactly $1 rows (copies of the benchmark's own varied rows) while the server
# is stopped: it is the database's only writer while it runs.
fill_to() {
  kill -TERM "$survey_pid"
  wait "$survey_pid" || true
  python3 - "$work/survey.db" "$1" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
target = int(sys.argv[2])
columns = [r[1] for r in db.execute("pragma table_info(submissions)") if r[1] != "id"]
while True:
    have = db.execute("select count(*) from submissions").fetchone()[0]
    if have >= target:
        break
    cols = ", ".join(columns)
    db.execute(f"insert into submissions ({cols}) select {cols} from submissions limit ?", (target - have,))
    db.commit()
extra = db.execute("select count(*) from submissions").fetchone()[0] - target
if extra > 0:
    db.execute("delete from submissions where id in (select id from submissions order by id desc limit ?)", (extra,))
    db.commit()
db.execute("pragma wal_checkpoint(truncate)")
PY
  start_survey
}

head -c "$thanks_bytes" /dev/zero | tr '\0' 'x' >"$work/www/Questionnaire/TonvaleWrite.asp"
nginx -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
pids+=($!)
for _ in $(seq 100); do curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$nginx_port/Questionnaire/TonvaleWrite.asp" && break; sleep 0.05; done
wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/submit.lua" \
  "http://127.0.0.1:$nginx_port" >"$work/wrk-nginx-submit.txt"
read -r ng_rps ng_avg ng_p50 ng_p99 ng_bad ng_err < <(wrk_summary "$work/wrk-nginx-submit.txt")

ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
# The middle one of three.
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
# Resident and peak resident memory of the server, in MB.
memory() { awk '/^VmRSS/ {rss = $2} /^VmHWM/ {hwm = $2} END {printf "%.1f MB (peak %.1f MB)", rss / 1024, hwm / 1024}' "/proc/$survey_pid/status"; }
memory_report=""
# Over each size, after a fresh start and one page: the memory must not grow with the rows.
measure_memory() {
  curl -s --noproxy '*' "$page_url" -o /dev/null
  memory_report+="  $1 rows: start-up $startup_ms ms, memory after the first page $(memory)
"
}
page_url="http://127.0.0.1:$survey_port/Questionnaire/TonvaleDisp.asp"
page_report=""
fill_to 20000
measure_memory 20000
for stored in "${page_sizes[@]}"; do
  fill_to "$stored"
  curl -s --noproxy '*' "$page_url" -o "$work/www/Questionnaire/TonvaleDisp.asp"
  grep -q ">$stored people have sent" "$work/www/Questionnaire/TonvaleDisp.asp" ||
    { echo "bench-server: the page does not count $stored submissions" >&2; exit 1; }
  page_bytes=$(stat -c %s "$work/www/Questionnaire/TonvaleDisp.asp")
  # The first request after a start builds the page; the ones after it are served from memory.
  fill_to "$stored"
  build_ms=$(curl -s --noproxy '*' "$page_url" -o /dev/null -w '%{time_total}' | python3 -c 'import sys; print(f"{float(sys.stdin.read()) * 1000:.1f}")')
  measure_memory "$stored"
  # The two servers in turn, three times: one quiet or busy moment of the machine does not decide
  # the ratio, which is given as the median of the three with its range.
  for c in 1 16; do
    ratios=()
    for round in 1 2 3; do
      wrk -t1 -c"$c" -d"${seconds}s" --latency "$page_url" >"$work/wrk-page-$stored-$c-$round.txt"
      read -r p_rps p_avg p_p50 p_p99 p_bad p_err < <(wrk_summary "$work/wrk-page-$stored-$c-$round.txt")
      wrk -t1 -c"$c" -d"${seconds}s" --latency "http://127.0.0.1:$nginx_port/Questionnaire/TonvaleDisp.asp" \
        >"$work/wrk-nginx-page-$stored-$c-$round.txt"
      read -r n_rps n_avg n_p50 n_p99 n_bad n_err < <(wrk_summary "$work/wrk-nginx-page-$stored-$c-$round.txt")
      ratios+=("$(ratio "$p_avg" "$n_avg")")
      page_report+="  $stored rows ($page_bytes bytes), $c connection(s), round $round: tonvale-survey avg $p_avg ms, p99 $p_p99 ms ($p_rps pages/s, non-2xx $p_bad)
      nginx avg $n_avg ms, p99 $n_p99 ms ($n_rps pages/s); ratio $(ratio "$p_avg" "$n_avg") (mean time)
"
    done
    page_report+="  $stored rows, $c connection(s): median ratio $(median "${ratios[@]}") (of $(printf '%s\n' "${ratios[@]}" | sort -g | tr '\n' ' '))
"
  done
  page_report+="  $stored rows: first request after a start (builds the page) $build_ms ms
"
done

# Submissions again over 1,000,000 stored rows: alone, then while 4 connections ask for the page
# as fast as they are answered and the export is read over and over. Three pairs, each pair run
# back to back, so that one slow moment of the machine does not decide the comparison.
: >"$work/export-runs"
mix_report=""
alone_p99s=()
mix_p99s=()
for round in 1 2 3; do
  wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/submit.lua" \
    "http://127.0.0.1:$survey_port" >"$work/wrk-submit-alone-$round.txt"
  read -r alone_rps alone_avg alone_p50 alone_p99 alone_bad alone_err < <(wrk_summary "$work/wrk-submit-alone-$round.txt")
  wrk -t1 -c4 -d"${seconds}s" --latency "$page_url" >"$work/wrk-page-beside-$round.txt" &
  page_load=$!
  (
    end=$((SECONDS + seconds))
    while ((SECONDS < end)); do
      curl -s --noproxy '*' -H "Authorization: Bearer $token" \
        "http://127.0.0.1:$survey_port/export.csv" -o /dev/null
      echo run >>"$work/export-runs"
    done
  ) &
  export_load=$!
  wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/submit.lua" \
    "http://127.0.0.1:$survey_port" >"$work/wrk-submit-beside-$round.txt"
  wait "$page_load" "$export_load" || true
  read -r mix_rps mix_avg mix_p50 mix_p99 mix_bad mix_err < <(wrk_summary "$work/wrk-submit-beside-$round.txt")
  read -r bp_rps bp_avg bp_p50 bp_p99 bp_bad bp_err < <(wrk_summary "$work/wrk-page-beside-$round.txt")
  alone_p99s+=("$alone_p99")
  mix_p99s+=("$mix_p99")
  mix_report+="  round $round alone        $alone_rps req/s, latency avg $alone_avg ms, p50 $alone_p50 ms, p99 $alone_p99 ms (non-2xx $alone_bad)
          beside them  $mix_rps req/s, latency avg $mix_avg ms, p50 $mix_p50 ms, p99 $mix_p99 ms (non-2xx $mix_bad)
          pages meanwhile $bp_rps/s, p99 $bp_p99 ms
"
done
export_runs=$(wc -l <"$work/export-runs")
wal_bytes=$(stat -c %s "$work/survey.db-wal" 2>/dev/null || echo 0)

cat <<REPORT

== results ($(nproc) cores, loopback, ${seconds}s runs; files in $work)
submissions, $connections connections (GET with a distinct form body each, answered with ${thanks_bytes} bytes):
  tonvale-survey  $durable durable submissions/s (wrk: $sub_rps req/s, non-2xx $sub_bad, socket errors $sub_err)
                  latency avg $sub_avg ms, p50 $sub_p50 ms, p99 $sub_p99 ms
  nginx (static ${thanks_bytes}-byte file, same requests)  $ng_rps req/s, p50 $ng_p50 ms, p99 $ng_p99 ms
  ratio tonvale-survey / nginx: $(ratio "$durable" "$ng_rps") (throughput), $(ratio "$sub_p99" "$ng_p99") (p99 latency)
results page (nginx serves the same bytes from a file):
$page_report
start-up and memory of tonvale-survey:
$memory_report
submissions over 1,000,000 rows, alone and while 4 connections read the page and the export runs ($export_runs exports):
$mix_report  median p99: alone $(median "${alone_p99s[@]}") ms, beside them $(median "${mix_p99s[@]}") ms; write-ahead log afterwards $wal_bytes bytes
REPORT
