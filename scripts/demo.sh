#!/usr/bin/env bash
# make demo: a simulated PIN pad fetches a file over HTTP through the agent.
#
# Lays out DEMO_DIR with a copy of the agent and its two settings (serial port
# 9, service enabled), serves a sample file on 127.0.0.1, links a
# pseudo-terminal of pinpad-sim to the agent's port and sends a plain HTTP
# request through the tunnel. Every process it starts is stopped by its pid.
#
# Usage: scripts/demo.sh BIN_DIR DEMO_DIR
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 BIN_DIR DEMO_DIR" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
rm -rf "$2"
mkdir -p "$2"
demo=$(cd "$2" && pwd)
agent_dir=$demo/agent
www=$demo/www
mkdir -p "$agent_dir" "$www"

started=()
stop_started() {
    for pid in "${started[@]}"; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
}
trap stop_started EXIT

now_ms() { date +%s%3N; }
# wait_for SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds.
wait_for() {
    local deadline=$(( $(now_ms) + $1 * 1000 ))
    shift
    until "$@"; do
        (( $(now_ms) < deadline )) || return 1
        sleep 0.05
    done
}
fail() {
    echo "demo failed: $*" >&2
    for log in "$demo"/sim.log "$demo"/http.log; do
        [[ -s $log ]] && { echo "--- $log" >&2; cat "$log" >&2; }
    done
    exit 1
}

demo_start=$(now_ms)

# The agent as it would be installed, with the pseudo-terminal as port 9.
cp "$bin/agent" "$agent_dir/agent"
printf 'ComPort=9\r\n' >"$agent_dir/pinpad.ini"
printf 'Enabled=1\r\n' >"$agent_dir/agent.ini"

for i in $(seq 1 100); do
    printf 'Line %03d of the sample file that the PIN pad fetches through the agent.\n' "$i"
done >"$www/sample.txt"

python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$www" >"$demo/http.log" 2>&1 &
started+=($!)
http_port() { sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p' "$demo/http.log" 2>/dev/null; }
have_port() { [[ -n $(http_port) ]]; }
wait_for 10 have_port || fail "the HTTP server did not start"
port=$(http_port)

printf 'GET /sample.txt HTTP/1.0\r\nHost: 127.0.0.1:%s\r\n\r\n' "$port" >"$demo/request.txt"
# timeout ends the simulator (and so the fetch) if anything hangs.
timeout 40 "$bin/pinpad-sim" -v --wait 20 --pty "$agent_dir/ttyS99" connect "127.0.0.1:$port" \
    <"$demo/request.txt" >"$demo/response.txt" 2>"$demo/sim.log" &
sim_pid=$!
started+=("$sim_pid")
wait_for 5 test -L "$agent_dir/ttyS99" || fail "pinpad-sim did not make its pseudo-terminal"

(cd "$agent_dir" && exec ./agent >"$demo/agent.out" 2>&1) &
started+=($!)

sim_status=0
wait "$sim_pid" || sim_status=$?
demo_ms=$(( $(now_ms) - demo_start ))
# The agent tells the end of the call in its status file soon after, and in
# any case within its 5 s period.
status_file=$agent_dir/Trace/Status.json
status_after_fetch() { [[ $status_file -nt $demo/response.txt ]]; }
wait_for 6 status_after_fetch || true
stop_started

(( sim_status != 124 )) || fail "the fetch did not finish within 40 s"
(( sim_status == 0 )) || fail "pinpad-sim ended with status $sim_status"
body_check=$(python3 - "$demo/response.txt" "$www/sample.txt" <<'PY'
import sys
response = open(sys.argv[1], 'rb').read()
sample = open(sys.argv[2], 'rb').read()
head, _, body = response.partition(b'\r\n\r\n')
status = head.split(b'\r\n')[0].decode('latin-1')
print(status + (', body identical to the sample file' if body == sample else ', BODY DIFFERS'))
PY
)
[[ $body_check == *identical* ]] || fail "the file came back damaged: $body_check"
[[ ! -s $demo/agent.out ]] || fail "the agent wrote output: $(head -c 200 "$demo/agent.out")"

sim_line() { sed -n "s/^pinpad-sim: $1/\\1/p" "$demo/sim.log" | head -n 1; }
link_ms=$(sim_line 'link up after \([0-9]*\) ms')
call=$(sim_line '\(connected to .*\)')
relay=$(sim_line 'closed by the agent after \(.*\)')
sent=$(sed -n 's/.* \([0-9]*\) bytes sent.*/\1/p' <<<"$relay")
received=$(sed -n 's/.* \([0-9]*\) bytes received.*/\1/p' <<<"$relay")
relay_ms=$(sed -n 's/^\([0-9]*\) ms.*/\1/p' <<<"$relay")

trace=$agent_dir/Trace
show_log() {
    echo "    $1 (first lines):"
    # Bytes above 0x7E stand as they are in the log; show them as dots here.
    head -n "$2" "$trace/$1" | LC_ALL=C tr -d '\r' | LC_ALL=C tr '\177-\377' '.' | sed 's/^/      | /'
}
sock_log=$(cd "$trace" && ls sock*.txt 2>/dev/null | head -n 1)

cat <<REPORT

PIN pad agent demo
  line:           pseudo-terminal linked as $agent_dir/ttyS99 (ComPort=9)
  link up:        after ${link_ms} ms (reset exchanged, frames acknowledged)
  call result:    $call
  HTTP answer:    $body_check
  bytes relayed:  terminal -> network $sent, network -> terminal $received
  times:          relay ${relay_ms} ms, whole demo ${demo_ms} ms
  traffic logs:   $trace/
REPORT
(cd "$trace" && ls -l | sed -n '2,$p' | awk '{printf "    %-20s %8s bytes\n", $NF, $5}')
show_log CommLog9.txt 6
[[ -n $sock_log ]] && show_log "$sock_log" 8
echo "    what the agent wrote in Status.json after the fetch (agent --status):"
"$agent_dir/agent" --status 2>&1 | sed 's/^/      | /' || true
echo "    what commlog-decode makes of the traffic logs (problems, and the tunnel's measures):"
"$bin/commlog-decode" "$trace" 2>&1 | sed -n '/^Problems:/,/^Connections:/p' | sed '/^Connections:/d;/^$/d;s/^/      | /' || true
echo
echo "Every process the demo started has been stopped."
