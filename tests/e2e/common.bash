# Helpers shared by the whole-agent test scripts. Usage: source common.bash AGENT SOURCE_DIR
set -u
AGENT=$1
SRC=$2
WORK=$(mktemp -d /tmp/kvo-e2e-XXXXXX)
[ -n "${KEEP_WORK:-}" ] || trap 'rm -rf "$WORK"' EXIT
failures=0
passes=0

# expect_status WANT DESCRIPTION -- COMMAND...: runs COMMAND, keeps its stderr in $WORK/err.
expect_status() {
    local want=$1 what=$2
    shift 3
    "$@" >"$WORK/out" 2>"$WORK/err"
    local got=$?
    if [ "$got" -ne "$want" ]; then
        echo "FAIL: $what: exit status $got, expected $want"
        sed 's/^/    /' "$WORK/err" | head -20
        failures=$((failures + 1))
    else
        passes=$((passes + 1))
    fi
}

# check DESCRIPTION COMMAND...: passes when COMMAND succeeds.
check() {
    local what=$1
    shift
    if "$@"; then passes=$((passes + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# expect_text FILE PATTERN DESCRIPTION
expect_text() {
    if grep -q -- "$2" "$1"; then
        passes=$((passes + 1))
    else
        echo "FAIL: $3: '$2' not found in $1:"
        sed 's/^/    /' "$1" | head -20
        failures=$((failures + 1))
    fi
}

# until_true SECONDS COMMAND...: true once COMMAND succeeds within SECONDS.
until_true() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do [ $SECONDS -lt "$end" ] || return 1; sleep 0.1; done
}

# realtime_config BASE [ELEMENT]: one rule over BASE that allows on-change, its
# events as JSON lines, a settle time of 500 ms; ELEMENT (a Syslog) goes beside it.
realtime_config() {
    cat <<XML
<SecurityConfiguration>
<AgentConfiguration systemIntegrityAllowOnChange="true" systemIntegrityEventMode="2"
  systemIntegrityOnchangeBackoffMinMS="500" systemIntegrityOnchangeBackoffMaxMS="2000"/>
${2:-}
<IntegrityRules><IntegrityRule id="1" name="Tree" identifier="1001" severity="2" allowOnChange="true">
  <FileSet base="$1"><Include key="**"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>
</IntegrityRule></IntegrityRules></SecurityConfiguration>
XML
}

# start_realtime ENGINE: the baseline with "${A[@]}" (work directory $W), then
# the agent run there with that real-time engine, in the background ($agent),
# until the engine watches and the start's scans have ended.
start_realtime() {
    expect_status 0 "the baseline ($1)" -- "${A[@]}" baseline
    "${A[@]}" --set kvo.realtime="$1" run >"$WORK/run.out" 2>&1 &
    agent=$!
    until_true 60 realtime_settled || echo "FAIL: the start's scans did not end ($1)"
}
realtime_settled() {
    grep -q "real-time: watching" "$W/kvo-agent.log" &&
        "${A[@]}" status 2>/dev/null | grep -qz "integrity scan: idle.*pending scans: none"
}

# quiet: with "${A[@]}" (work directory $W), the scans are idle and no event came for three seconds.
quiet() {
    local before
    before=$(stat -c %s "$W/events.jsonl" 2>/dev/null)
    sleep 3
    realtime_settled && [ "$(stat -c %s "$W/events.jsonl" 2>/dev/null)" = "$before" ]
}

# reported WORKDIR KEY OPERATION: true once WORKDIR's JSON events hold OPERATION on KEY.
reported() {
    python3 -c 'import json, sys
sys.exit(not any(e["key"] == sys.argv[2] and e["operationType"] == sys.argv[3] for e in map(json.loads, open(sys.argv[1]))))' \
        "$1/events.jsonl" "$2" "$3"
}

# config_xml AGENT_ATTRIBUTES RULE_ATTRIBUTES SETS: a configuration of one rule, without on-change.
config_xml() {
    printf '<SecurityConfiguration>\n<AgentConfiguration systemIntegrityAllowOnChange="false" %s/>\n<IntegrityRules>\n' "$1"
    printf '<IntegrityRule %s allowOnChange="false">%s</IntegrityRule>\n</IntegrityRules>\n</SecurityConfiguration>\n' "$2" "$3"
}

# start_rsyslog: a real rsyslogd in the foreground, a child of this script, on
# free loopback ports UDP_PORT and TCP_PORT; LOG gets one line per message.
start_rsyslog() {
    local rsyslogd ready=false
    rsyslogd=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
    [ -x "$rsyslogd" ] || { echo "FAIL: rsyslogd is not installed (scripts/install-deps installs rsyslog)"; exit 1; }
    UDP_PORT=$(free_port udp)
    TCP_PORT=$(free_port tcp)
    R=$WORK/rsyslog
    LOG=$R/messages.log
    mkdir -p "$R"
    # One output line per message: PRI|TIMESTAMP|HOSTNAME|APP-NAME|PROCID|MSGID|MSG.
    cat >"$R/rsyslog.conf" <<CONF
global(workDirectory="$R" maxMessageSize="128k")
module(load="imudp")
module(load="imtcp")
template(name="fields" type="string" string="%pri%|%timereported:::date-rfc3339%|%hostname%|%app-name%|%procid%|%msgid%|%msg%\n")
ruleset(name="capture") { action(type="omfile" file="$LOG" template="fields") }
input(type="imudp" address="127.0.0.1" port="$UDP_PORT" ruleset="capture")
input(type="imtcp" address="127.0.0.1" port="$TCP_PORT" ruleset="capture")
CONF
    "$rsyslogd" -n -f "$R/rsyslog.conf" -i "$R/rsyslogd.pid" >"$R/rsyslogd.out" 2>&1 &
    RSYSLOG_PID=$!
    trap 'kill $RSYSLOG_PID 2>/dev/null; wait $RSYSLOG_PID 2>/dev/null; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT
    # Datagrams sent before imudp binds are lost: probe until one is written out.
    for _ in $(seq 300); do
        echo "<14>1 - - rsyslog-probe - - - ready" >"/dev/udp/127.0.0.1/$UDP_PORT" 2>/dev/null
        if grep -q rsyslog-probe "$LOG" 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$TCP_PORT") 2>/dev/null; then
            ready=true
            break
        fi
        sleep 0.1
    done
    [ $ready = true ] || { echo "FAIL: rsyslogd did not take messages:"; cat "$R/rsyslogd.out"; exit 1; }
}

# wait_for FILE PATTERN [COUNT]: until PATTERN occurs COUNT times (default 1), at most 60 s.
wait_for() {
    local want=${3:-1}
    for _ in $(seq 600); do
        local seen
        seen=$(grep -c -- "$2" "$1" 2>/dev/null)
        [ "${seen:-0}" -ge "$want" ] && return 0
        sleep 0.1
    done
    return 1
}

free_port() {  # free_port udp|tcp
    python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if sys.argv[1] == "udp" else socket.SOCK_STREAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' "$1"
}

finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
