# Syslog end to end: a real rsyslogd on loopback (UDP and TCP) receives one CEF
# line per integrity event of a check, with this host and program in its
# header, the rule's signature id (30 for an identifier that is not a number),
# the CEF severity of the rule's severity, and the rename extension of the
# configured format level. Paths hold multi-byte characters, so a TCP frame
# counted in characters instead of bytes would break the lines apart.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

start_rsyslog

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
