# Syslog end to end: a real rsyslogd on loopback (UDP and TCP) receives one CEF
# line per integrity event of a check, with this host and program in its
# header, the rule's signature id (30 for an identifier that is not a number),
# the CEF severity of the rule's severity, and the rename extension of the
# configured format level. Paths hold multi-byte characters, so a TCP frame
# counted in characters instead of bytes would break the lines apart.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

# --- rsyslogd in the foreground, a child of this script, on free loopback ports.
RSYSLOGD=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
[ -x "$RSYSLOGD" ] || { echo "FAIL: rsyslogd is not installed (scripts/install-deps installs rsyslog)"; exit 1; }
free_port() {  # free_port udp|tcp
    python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if sys.argv[1] == "udp" else socket.SOCK_STREAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' "$1"
}
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
"$RSYSLOGD" -n -f "$R/rsyslog.conf" -i "$R/rsyslogd.pid" >"$R/rsyslogd.out" 2>&1 &
RSYSLOG_PID=$!
trap 'kill $RSYSLOG_PID 2>/dev/null; wait $RSYSLOG_PID 2>/dev/null; rm -rf "$WORK"' EXIT

# Datagrams sent before imudp binds are lost: probe until one is written out.
ready=false
for _ in $(seq 300); do
    echo "<14>1 - - rsyslog-probe - - - ready" >"/dev/udp/127.0.0.1/$UDP_PORT" 2>/dev/null
    if grep -q rsyslog-probe "$LOG" 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$TCP_PORT") 2>/dev/null; then
        ready=true
        break
    fi
    sleep 0.1
done
[ $ready = true ] || { echo "FAIL: rsyslogd did not take messages:"; cat "$R/rsyslogd.out"; exit 1; }

# cef_lines TREE: the CEF messages about keys under TREE.
cef_lines() { grep -F "CEF:" "$LOG" | grep -F "$1/" || true; }
# wait_lines TREE N: until rsyslog has written N lines about TREE, at most 30 s.
wait_lines() {
    for _ in $(seq 300); do
        [ "$(cef_lines "$1" | wc -l)" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

# config TREE PROTOCOL PORT FORMAT: four rules of severity 1 to 4, one per
# directory; rule 2's identifier is not a number.
config() {
    cat <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="false"/>
  <Syslog server="127.0.0.1" port="$3" protocol="$2" format="$4" facility="16"/>
  <IntegrityRules>
XML
    for s in 1 2 3 4; do
        local identifier=100$s
        [ $s = 2 ] && identifier=web-config
        cat <<XML
    <IntegrityRule id="$s" name="Severity $s" identifier="$identifier" severity="$s" allowOnChange="false">
      <FileSet base="$1/s$s"><Include key="**"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>
    </IntegrityRule>
XML
    done
    echo "  </IntegrityRules>"
    echo "</SecurityConfiguration>"
}

# field MESSAGE N: the Nth "|" field of a CEF message (1 "CEF:0", 5 signature id, 7 severity).
field() { cut -d'|' -f"$2" <<<"$1"; }

# Per protocol and format level: a baseline, changes, a check; rsyslog gets one line per event.
while IFS='|' read -r protocol port format rename_text; do
    T=$WORK/$protocol-café
    for s in 1 2 3 4; do
        mkdir -p "$T/s$s"
        echo "rule $s file before" >"$T/s$s/edit.txt"
    done
    echo "the content that moves to a new name" >"$T/s1/old.txt"
    config "$T" "$protocol" "$port" "$format" >"$WORK/$protocol.xml"
    W=$WORK/$protocol-work
    expect_status 0 "$protocol: baseline" -- "$AGENT" --workdir "$W" --config "$WORK/$protocol.xml" baseline
    check "$protocol: a baseline sends no syslog line" [ -z "$(cef_lines "$T")" ]
    for s in 1 2 3 4; do echo "rule $s file after" >"$T/s$s/edit.txt"; done
    mv "$T/s1/old.txt" "$T/s1/new.txt"
    expect_status 12 "$protocol: check (4 updates, 1 rename)" -- "$AGENT" --workdir "$W" --config "$WORK/$protocol.xml" check
    check "$protocol: rsyslog receives the five lines" wait_lines "$T" 5
    sleep 0.5  # a line sent twice would arrive by now
    check "$protocol: exactly five lines, one per event (got $(cef_lines "$T" | wc -l))" [ "$(cef_lines "$T" | wc -l)" = 5 ]
    check "$protocol: facility 16 (local0)" [ -z "$(cef_lines "$T" | awk -F'|' 'int($1 / 8) != 16')" ]
    check "$protocol: host, program, message id and CEF header" [ -z "$(cef_lines "$T" | awk -F'|' -v h="$(hostname)" \
        '$3 != h || $4 != "kvo-agent" || $6 != "integrity" || $7 $8 $9 != "CEF:0kvokvo-agent" || !index($0, "|dvchost=" h " ")')" ]
    # rule|signature id|CEF severity
    while IFS='|' read -r s sig severity; do
        line=$(cef_lines "$T" | grep -F "$T/s$s/edit.txt" | sed 's/^.*CEF:/CEF:/')
        check "$protocol: one update line for rule $s" [ "$(grep -c . <<<"$line")" = 1 ]
        check "$protocol: rule $s signature id $sig (got '$(field "$line" 5)')" [ "$(field "$line" 5)" = "$sig" ]
        check "$protocol: rule $s CEF severity $severity (got '$(field "$line" 7)')" [ "$(field "$line" 7)" = "$severity" ]
        check "$protocol: rule $s update says updated" grep -q "act=updated" <<<"$line"
    done <<'RULES'
1|1001|3
2|30|6
3|1003|8
4|1004|10
RULES
    rename=$(cef_lines "$T" | grep -F "act=renamed")
    check "$protocol format $format: one rename line" [ "$(grep -c . <<<"$rename")" = 1 ]
    expected=${rename_text//@/$T\/s1}
    check "$protocol format $format: rename extension '$expected'" grep -qF -- "$expected" <<<"$rename"
done <<CASES
udp|$UDP_PORT|1| fname=@/old.txt -> @/new.txt
tcp|$TCP_PORT|2| oldfilePath=@/old.txt filePath=@/new.txt
CASES

finish
