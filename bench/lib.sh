# Shared by the bench/run-*-bench scripts (sourced, not run): measures one
# Morvex run and one peer run per task, compares what they wrote and records
# one result line per task. bench/print-table prints those lines as a table.
#
# A task:
#   bench_task "SQLite table to CSV" yes       # yes: a streaming path, its
#                                              # peak RSS must stay under 64 MB
#                                              # and it runs in the memory
#                                              # section; ceiling: under 64 MB
#                                              # but not in that section
#   bench_morvex "command" "count command"     # bash command lines
#   bench_peer "sqlite3 -csv" "command" "count command"
#   bench_server_cpu                           # optional, before the runs: the
#                                              # task talks to the PostgreSQL
#                                              # server, whose CPU is added
#   bench_target 0.6                           # optional: the aim for the
#                                              # CPU ratio, shown, not enforced
#   bench_done ["note"]
# A count command prints "COUNT" or "COUNT CHECKSUM" of what the run wrote
# (bench/normalise.py makes both); the row fails when the counts differ, or
# when both checksums are given and differ. A task without a peer leaves out
# bench_peer.
#
# Environment:
#   BENCH_RESULTS  the file that collects the result lines; when unset, the
#                  script prints its own table at exit (bench_finish).
#   BENCH_DATA     where inputs are generated and kept, and outputs written
#                  (default bench/data, which git ignores).
#   BENCH_PG_PID   the PostgreSQL postmaster's process id (bench/run-all
#                  sets it): the CPU that the server's backends used for a
#                  run is added to the run's own, since a server-side loader
#                  such as COPY does its work there. Without it the CPU
#                  columns of PostgreSQL rows are the client's alone.
#   BENCH_KEEP     when set, the last task's outputs stay (for a look).
#   BENCH_SECTION  "main" (default), or "memory": the memory section runs
#                  only the streaming paths, only Morvex, and counts records
#                  without parsing. There a Morvex run may use at most
#                  BENCH_MEMORY_LIMIT_KB of address space (default 4 GB), so
#                  that a path that does not stream at ten million records
#                  fails quickly instead of exhausting the machine.
#
# Result line, tab-separated: section, task, status (ok, FAIL or skipped),
# Morvex wall s, CPU s, peak RSS KB, peer name, peer wall s, CPU s, peak RSS
# KB, Morvex count, peer count, note, and the task's kind (yes for a
# streaming path, ceiling or no, as bench_task takes it), the size of the
# input in records (bench_rows, set by the script) and the target ratio.
# Empty fields are "-".

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench_ceiling_kb=$((64 * 1024))
bench_data=${BENCH_DATA:-$bench_dir/data}
BENCH_SECTION=${BENCH_SECTION:-main}
bench_own_results=
if [[ -z "${BENCH_RESULTS:-}" ]]; then
  BENCH_RESULTS=$(mktemp)
  bench_own_results=yes
fi

# The outputs of a task: emptied when a task starts, removed when it ends
# (at 10M rows each output is a gigabyte). Set by the script.
bench_work=
# The number of records in the task's input.
bench_rows=

bench_memory_only() { [[ $BENCH_SECTION == memory ]]; }

# Prints the table when this script owns the result file; returns 1 when a
# row failed. Call last: `bench_finish; exit $?`.
bench_finish() {
  [[ -n ${BENCH_KEEP:-} || -z $bench_work ]] || rm -rf "$bench_work"
  [[ -n $bench_own_results ]] || return 0
  local rc=0
  python3 "$bench_dir/print-table" "$BENCH_RESULTS" || rc=$?
  rm -f "$BENCH_RESULTS"
  return $rc
}

bench_emit() {
  local IFS=$'\t'
  local fields=("$@") i
  for i in "${!fields[@]}"; do
    [[ -n ${fields[$i]} ]] || fields[$i]=-
    fields[$i]=${fields[$i]//$'\t'/ }
    fields[$i]=${fields[$i]//$'\n'/ }
  done
  echo "${fields[*]}" >>"$BENCH_RESULTS"
}

# Records a row that did not run, with the reason; a third argument
# "streaming" keeps it in the memory section.
bench_skip() {
  local task=$1 reason=$2
  bench_memory_only && [[ ${3:-} != streaming ]] && return 0
  bench_emit "$BENCH_SECTION" "$task" skipped "" "" "" "" "" "" "" "" "" "$reason" "$([[ ${3:-} == streaming ]] && echo yes || echo no)" "$bench_rows"
}

bench_task() {
  b_task=$1 b_streaming=$2
  b_active=yes
  bench_memory_only && [[ $b_streaming != yes ]] && b_active=
  if [[ -n $bench_work ]]; then
    rm -rf "$bench_work"
    [[ -z $b_active ]] || mkdir -p "$bench_work"
  fi
  b_m_wall= b_m_cpu= b_m_kb= b_m_rc= b_m_count= b_m_sum= b_m_counted=
  b_peer= b_p_wall= b_p_cpu= b_p_kb= b_p_rc= b_p_count= b_p_sum= b_p_counted=
  b_detail= b_failed= b_target= b_server=
  [[ -n $b_active ]] && echo "bench: $BENCH_SECTION: $b_task ..." >&2
  return 0
}

# Runs `bash -c COMMAND` under GNU time; sets b_wall, b_cpu (user +
# system), b_kb (peak RSS), b_rc and, for a failed run, b_err: the last lines
# of its error output, or of its console output when it wrote no errors.
bench_measure() {
  local report out err
  report=$(mktemp)
  out=$(mktemp)
  err=$(mktemp)
  b_rc=0
  /usr/bin/time -f "%e %U %S %M" -o "$report" bash -c "$1" >"$out" 2>"$err" || b_rc=$?
  local wall=0 user=0 sys=0 kb=0
  # GNU time writes "Command exited with non-zero status N" before the figures.
  read -r wall user sys kb < <(tail -n 1 "$report") || true
  b_wall=$wall b_kb=$kb
  b_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf("%.2f", u + s) }')
  local messages=$err
  [[ -s $err ]] || messages=$out
  b_err=$( (grep -v "^ *$" "$messages" || true) | tail -n 2 | tr "\n" " " | cut -c1-200)
  rm -f "$report" "$out" "$err"
}

# CPU seconds of the PostgreSQL server's ended backends so far, in clock
# ticks: the postmaster's reaped children (fields cutime and cstime of
# /proc/PID/stat). Empty without BENCH_PG_PID.
bench_server_ticks() {
  [[ -n ${BENCH_PG_PID:-} && -r /proc/$BENCH_PG_PID/stat ]] || return 0
  awk '{ print $16 + $17 }' "/proc/$BENCH_PG_PID/stat"
}

bench_server_cpu() {
  b_server=yes
  if [[ -n ${BENCH_PG_PID:-} ]]; then
    b_detail="${b_detail:+$b_detail; }cpu includes the server's"
  else
    b_detail="${b_detail:+$b_detail; }cpu is the client's alone"
  fi
}

# bench_measure, with the server's CPU for the run added to b_cpu when the
# task asked for it. A backend ends after its client, so the server's figure
# is read when the postmaster has reaped it.
bench_measure_task() {
  local before after
  if [[ -n $b_server ]]; then
    sleep 0.5 # the backends of earlier statements end first
    before=$(bench_server_ticks)
  fi
  bench_measure "$1"
  if [[ -n $b_server && -n $before ]]; then
    sleep 0.5
    after=$(bench_server_ticks)
    b_cpu=$(awk -v c="$b_cpu" -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" \
      'BEGIN { printf("%.2f", c + t / hz) }')
  fi
}

# Runs a count command; sets b_count and b_sum (empty when the command failed).
bench_count() {
  local out
  b_count= b_sum=
  [[ -n $1 ]] || return 0
  if out=$(bash -c "$1" 2>/dev/null | tail -n 1); then
    read -r b_count b_sum <<<"$out" || true
  fi
}

bench_morvex() {
  [[ -n $b_active ]] || return 0
  if bench_memory_only; then
    bench_measure_task "ulimit -v ${BENCH_MEMORY_LIMIT_KB:-4194304} && $1"
  else
    bench_measure_task "$1"
  fi
  b_m_wall=$b_wall b_m_cpu=$b_cpu b_m_kb=$b_kb b_m_rc=$b_rc
  if ((b_rc != 0)); then
    b_detail="morvex failed (exit $b_rc): $b_err"
    return 0
  fi
  b_m_counted=${2:+yes}
  bench_count "${2:-}"
  b_m_count=$b_count b_m_sum=$b_sum
}

bench_peer() {
  [[ -n $b_active ]] || return 0
  bench_memory_only && return 0
  b_peer=$1
  bench_measure_task "$2"
  b_p_wall=$b_wall b_p_cpu=$b_cpu b_p_kb=$b_kb b_p_rc=$b_rc
  if ((b_rc != 0)); then
    b_detail="${b_detail:+$b_detail; }peer failed (exit $b_rc): $b_err"
    return 0
  fi
  b_p_counted=${3:+yes}
  bench_count "${3:-}"
  b_p_count=$b_count b_p_sum=$b_sum
}

# The aim for the current row's CPU ratio; timing is noisy, so it is shown
# beside the ratio and never fails the row.
bench_target() { b_target=$1; }

# Fails the current row with a reason (a check of the script's own).
bench_fail() {
  b_failed=yes
  b_detail="${b_detail:+$b_detail; }$1"
}

# Decides the row's status and records it. A failing peer alone does not
# fail the row: it is shown, and the Morvex run still counts.
bench_done() {
  [[ -n $b_active ]] || return 0
  local status=ok note=${1:-}
  if [[ -n $b_failed || ( -n $b_m_rc && $b_m_rc != 0 ) ]]; then
    status=FAIL
  else
    if [[ -n $b_m_counted && -z $b_m_count ]]; then
      status=FAIL
      b_detail="${b_detail:+$b_detail; }the output of morvex could not be counted"
    elif [[ -n $b_peer && $b_p_rc == 0 && -n $b_m_counted$b_p_counted ]]; then
      if [[ -z $b_p_count ]]; then
        status=FAIL
        b_detail="${b_detail:+$b_detail; }the output of the peer could not be counted"
      elif [[ $b_m_count != "$b_p_count" ]]; then
        status=FAIL
        b_detail="${b_detail:+$b_detail; }record counts differ"
      elif [[ -n $b_m_sum && -n $b_p_sum && $b_m_sum != "$b_p_sum" ]]; then
        status=FAIL
        b_detail="${b_detail:+$b_detail; }same count, different data"
      elif [[ -n $b_m_sum && -n $b_p_sum ]]; then
        note="${note:+$note; }same data"
      fi
    fi
    if [[ $b_streaming != no && -n $b_m_kb ]] && ((b_m_kb >= bench_ceiling_kb)); then
      status=FAIL
      b_detail="${b_detail:+$b_detail; }peak RSS at or above 64 MB"
    fi
  fi
  [[ -z $b_detail ]] || note="${note:+$note; }$b_detail"
  bench_emit "$BENCH_SECTION" "$b_task" "$status" "$b_m_wall" "$b_m_cpu" "$b_m_kb" \
    "$b_peer" "$b_p_wall" "$b_p_cpu" "$b_p_kb" "$b_m_count" "$b_p_count" "$note" "$b_streaming" "$bench_rows" "$b_target"
  [[ -n ${BENCH_KEEP:-} || -z $bench_work ]] || rm -rf "$bench_work"
}

# The libpq keywords of a Morvex connection string, for psql.
bench_pg_conninfo() {
  awk -v s="$1" 'BEGIN {
    n = split(s, items, ";")
    for (i = 1; i <= n; i++) {
      eq = index(items[i], "="); if (eq == 0) continue
      k = tolower(substr(items[i], 1, eq - 1)); v = substr(items[i], eq + 1)
      gsub(/^ +| +$/, "", k)
      if (k == "data source" || k == "server" || k == "host") out = out " host=" v
      else if (k == "port") out = out " port=" v
      else if (k == "initial catalog" || k == "database") out = out " dbname=" v
      else if (k == "user id" || k == "uid" || k == "user") out = out " user=" v
      else if (k == "password" || k == "pwd") out = out " password=" v
    }
    print out }'
}

# Why the PostgreSQL rows cannot run, or nothing when they can.
bench_pg_missing() {
  if [[ -n "${BENCH_PG_MISSING:-}" ]]; then
    echo "$BENCH_PG_MISSING"
  elif [[ -z "${MORVEX_PG:-}" ]]; then
    echo "no PostgreSQL server (MORVEX_PG unset; bench/run-all starts one when PostgreSQL is installed)"
  elif ! command -v psql >/dev/null; then
    echo "psql is not installed (scripts/install-deps)"
  fi
}

bench_have() { command -v "$1" >/dev/null; }

# A count command for a file: "$(bench_norm csv ';' --header FILE)".
bench_norm() {
  local args=() a
  for a in "$@"; do args+=("$(printf '%q' "$a")"); done
  echo "python3 $(printf '%q' "$bench_dir/normalise.py") ${args[*]}"
}

# Count commands for Morvex's own CSV (a header row) and XML outputs: the
# full normalised form in the main section, a plain count in the memory
# section, whose files are too big to parse in Python in reasonable time.
bench_csv_count() {
  if bench_memory_only; then bench_norm count-csv "$1"; else bench_norm csv "${2:-;}" --header "$1"; fi
}
bench_xml_count() {
  if bench_memory_only; then bench_norm count-xml "$1" "$2"; else bench_norm xml "$1" "$2"; fi
}
# JSON records are the objects whose first key is $1 (compact output).
bench_json_count() {
  if bench_memory_only; then bench_norm count-json "$1" "$2"; else bench_norm json "$2"; fi
}
