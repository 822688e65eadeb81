# Sourced by the tools' scripts: starts frameyard-simhost on a free port and waits until its
# output shows a line matching a pattern. A port that may be taken makes the host fail at
# once; then another is tried. Sets port and host_pid (empty when no attempt worked).
# usage: start_simhost SIMHOST OUT ERR PATTERN [HOST ARGS...]   (OUT and ERR may be one file)
start_simhost() {
  local simhost=$1 out=$2 err=$3 pattern=$4
  shift 4
  local attempt
  for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    if [ "$err" = "$out" ]; then
      "$simhost" --port "$port" "$@" >"$out" 2>&1 &
    else
      "$simhost" --port "$port" "$@" >"$out" 2>"$err" &
    fi
    host_pid=$!
    for _ in $(seq 200); do   # up to 10 seconds
      if ! kill -0 "$host_pid" 2>/dev/null; then break; fi
      if grep -q "$pattern" "$out"; then return 0; fi
      sleep 0.05
    done
    kill -TERM "$host_pid" 2>/dev/null   # not up in time: give up on this one
    wait "$host_pid" 2>/dev/null
    host_pid=""
  done
  return 1
}
