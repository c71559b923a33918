# kvo-agent run: the agent stores the configured rules, initiates a baseline
# scan and says so in its log, keeps other agents off its work directory, and
# stops cleanly on SIGINT and SIGTERM with its database closed; a changed
# configuration is taken up at the next start.
source "$(dirname "$0")/common.bash" "$@"
# The agent is started from / below, so its path must not depend on where we stand.
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

mkdir -p "$WORK/watched"
echo "x=1" >"$WORK/watched/a.conf"
config_xml "" 'id="4" name="Watched files" identifier="1004" severity="2"' \
    "<FileSet base=\"$WORK/watched\"><Include key=\"*.conf\"/><Attributes><STANDARD/></Attributes></FileSet>" \
    >"$WORK/config.xml"
A=("$AGENT" --workdir "$WORK/w" --config "$WORK/config.xml")
LOG="$WORK/w/kvo-agent.log"

# Started from elsewhere: the agent finds its scripts beside its build, not in the current directory.
(cd / && exec "${A[@]}" run) >"$WORK/run.out" 2>"$WORK/run.err" &
pid=$!
check "rules stored and logged" wait_for "$LOG" "integrity rules stored: 1 rule(s) in force"
check "baseline scan initiated and logged" wait_for "$LOG" "integrity scan initiated"
check "the rule is in si.db" [ "$(sqlite3 "$WORK/w/si.db" "SELECT [name] FROM [IntegrityRules] WHERE [integrityRuleId]=4;")" = "Watched files" ]
check "a baseline scan row" [ "$(sqlite3 "$WORK/w/si.db" "SELECT COUNT(*) FROM [Scans] WHERE [incrementalScan]=0;")" = 1 ]
check "si.db is private (mode 600)" [ "$(stat -c %a "$WORK/w/si.db")" = 600 ]
check "the work directory is private (mode 700)" [ "$(stat -c %a "$WORK/w")" = 700 ]

expect_status 75 "a second agent on the same work directory" -- "${A[@]}" run
expect_text "$WORK/err" "another agent is running on the work directory" "the refusal says why"
check "the first agent still runs" kill -0 $pid

kill -INT $pid
wait $pid
status=$?
check "SIGINT ends run with status 0 (got $status)" [ "$status" -eq 0 ]
expect_text "$LOG" "integrity monitoring stopped" "the control loop returned"
check "no write-ahead log left: the database was closed" [ ! -e "$WORK/w/si.db-wal" ]
check "the database is intact" [ "$(sqlite3 "$WORK/w/si.db" "PRAGMA integrity_check;")" = ok ]

# Again on the same work directory, with a rule that has nothing to scan: the
# baseline it asks for completes at once. Stopped with SIGTERM this time.
config_xml "" 'id="5" name="Nothing to watch" identifier="1005" severity="1"' "" >"$WORK/config.xml"
# The first run may have completed its baseline before it was stopped: only a new line counts.
completed=$(grep -c "integrity scan completed" "$LOG")
"${A[@]}" run >"$WORK/run.out" 2>"$WORK/run.err" &
pid=$!
check "scan completed and logged" wait_for "$LOG" "integrity scan completed" $((completed + 1))
expect_text "$WORK/w/agent-events.log" "^8000|00:00|0$" "an empty baseline is reported as such"
kill -TERM $pid
wait $pid
status=$?
check "SIGTERM ends run with status 0 (got $status)" [ "$status" -eq 0 ]
check "the rule in force replaced the old one" \
    [ "$(sqlite3 "$WORK/w/si.db" "SELECT group_concat([integrityRuleId]) FROM [IntegrityRules];")" = 5 ]

finish
