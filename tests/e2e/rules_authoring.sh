# The rule authors' tools on small configurations: the lint's findings with
# their lines, --plan on a scratch copy of si.db, and --why against a baseline.
source "$(dirname "$0")/common.bash" "$@"
RULES="$(dirname "$AGENT")/kvo-rules"
T="$WORK/tree"

# rules_xml RULE...: one IntegrityRule per argument (id 1, 2, ...), each on one line from line 3 on.
rules_xml() {
    printf '<SecurityConfiguration>\n<IntegrityRules>\n'
    local id=0 rule
    for rule in "$@"; do id=$((id + 1)); printf '<IntegrityRule id="%d" name="r%d">%s</IntegrityRule>\n' $id $id "$rule"; done
    printf '</IntegrityRules>\n</SecurityConfiguration>\n'
}

# --- lint: each row one set on line 3, its status and a finding it must give ---
mkdir -p "$T/d/sub" "$T/x"
while IFS=';' read -r status set finding; do
    rules_xml "$set" >"$WORK/lint.xml"
    expect_status "$status" "lint: $set" -- "$RULES" --workdir "$WORK/w" --config "$WORK/lint.xml" rules
    expect_text "$WORK/out" "^$WORK/lint.xml:3: $finding" "lint of $set"
done <<TABLE
1;<FileSet base="$T"><include key="*.conf"/></FileSet>;error: rule 1 "r1", FileSet: unknown element include, ignored (did you mean Include?)
1;<FileSet base="$T"><Include><key pattern="a"/></Include></FileSet>;error: rule 1 "r1", FileSet/Include: unknown element key, ignored (did you mean Key?)
1;<FileSet base="$T"><Include><key pattern="a"/></Include></FileSet>;error: .*Include: no key, no Key: this Include adds no condition
1;<FileSet base="$T"><Include key="+x"/></FileSet>;error: .*Include: pattern "+x" gives the expression ^+x\$, which does not compile: .* this Include takes every key
1;<FileSet base="$T"><Include key="*"/><Exclude key="+x"/></FileSet>;error: .*Exclude: .*this Exclude removes every key its other conditions allow
1;<FileSet base="$T"><Include key="a+b|c"/></FileSet>;error: .*pattern "a+b|c" holds "+" and "|", which keep their expression meaning
1;<FileSet base="$T"><Include key="/**"/></FileSet>;error: .*pattern "/\*\*" (expression .*) can never match a key
1;<FileSet base="$T"><Include><Key pattern="d/"/></Include></FileSet>;error: .*FileSet/Include/Key: pattern "d/" .*can never match a key
1;<FileSet base="$T"><Include><Key Pattern="d"/></Include></FileSet>;error: .*Key: unknown attribute Pattern, ignored (did you mean pattern?)
1;<FileSet base="\${HOME}/x"/>;error: .*FileSet: \${HOME} in base "\${HOME}/x" expands to nothing
1;<FileSet base="$T"><Exclude key="*.log"/></FileSet>;error: .*FileSet: only Excludes: .*matches nothing
1;<DirectorySet base="logs"/>;error: .*DirectorySet: base "logs" is not an absolute directory
1;<fileset base="$T"/>;error: rule 1 "r1", fileset: unknown element fileset, the rule ignores it (did you mean FileSet?)
0;<FileSet base="$T/none"><Include key="*"/></FileSet>;warning: rule 1 "r1", FileSet: search base $T/none does not exist on this host
TABLE
expect_text "$WORK/out" '^rule 1 "r1": accepted$' "a warning alone leaves the rule accepted"
rules_xml "<FileSet base=\"$T\"><Include key=\"**\"/></FileSet>" >"$WORK/lint.xml"
expect_status 0 "clean rule" -- "$RULES" --workdir "$WORK/w" --config "$WORK/lint.xml" rules
check "a clean rule has no finding" [ -z "$(grep -e ': error: ' -e ': warning: ' "$WORK/out")" ]
rules_xml "<FileSet base=\"$T\"><include key=\"*\"/><Include key=\"+\"/></FileSet>" >"$WORK/lint.xml"
expect_status 1 "the summary counts the errors" -- "$RULES" --workdir "$WORK/w" --config "$WORK/lint.xml" rules
expect_text "$WORK/out" '^rule 1 "r1": 3 lint errors (lines 3, 3, 3)$' "summary with the lines"

# --- plan: a base from the environment, a relative base; --keep holds the result ---
rules_xml '<DirectorySet base="${env.HOME}/logs"/>' '<DirectorySet base="rel/logs"/>' >"$WORK/plan.xml"
expect_status 0 "plan" -- env HOME=/root "$RULES" --workdir "$WORK/w" --config "$WORK/plan.xml" rules --plan --keep "$WORK/out.db"
expect_text "$WORK/out" '^  DirectorySet 1: base "${env.HOME}/logs", search base "/root/logs", expression (none)' "env base expanded"
expect_text "$WORK/out" '^agent event 8004|2|r2|rel/logs$' "relative base: event 8004"
expect_text "$WORK/out" '^needs a baseline: rules 1, 2$' "new rules need a baseline"
check "--keep holds the planned sets, and no set of rule 2" \
    [ "$(sqlite3 "$WORK/out.db" 'SELECT integrityRuleId, directorySearchBase FROM DirectorySets')" = "1|/root/logs" ]
check "the work directory got no database" [ ! -e "$WORK/w/si.db" ]

# Three rules stored by a baseline; editing the second retires only it.
three() { rules_xml "<FileSet base=\"$T/d\"/>" "<FileSet base=\"$T/x\"><Include key=\"$1\"/></FileSet>" \
    "<UserSet><Include key=\"root\"/><exclude key=\"x\"/></UserSet>"; }
three '*' >"$WORK/three.xml"
expect_status 0 "baseline of three rules" -- "$AGENT" --workdir "$WORK/b" --config "$WORK/three.xml" baseline
expect_text "$WORK/b/kvo-agent.log" 'WARNING rule 3 "r3", UserSet: unknown element exclude, ignored (did you mean Exclude?) (configuration line 5)' \
    "the agent logs the lint's findings as it stores a rule"
three '*.conf' >"$WORK/three.xml"
cp "$WORK/b/si.db" "$WORK/before.db"
expect_status 0 "plan against the baseline" -- "$AGENT" --workdir "$WORK/b" --config "$WORK/three.xml" rules --plan
expect_text "$WORK/out" '^retired: rule 2$' "only the edited rule retired"
expect_text "$WORK/out" '^needs a baseline: rule 2$' "only the edited rule named for a baseline"
expect_text "$WORK/out" '^rule 1 "r1": unchanged, kept as stored$' "unchanged rule kept"
check "the real database is untouched" cmp -s "$WORK/b/si.db" "$WORK/before.db"

# --- why: every path the baseline records is explained as recorded, the others not ---
mkdir -p "$T/w/etc/deep/er" "$T/w/var/log" "$T/w/skip" "$T/cs"
touch "$T/w/etc/a.conf" "$T/w/etc/b.txt" "$T/w/etc/deep/c.conf" "$T/w/etc/deep/er/d.conf" "$T/w/var/log/x.log" \
    "$T/w/var/log/keep.log" "$T/w/skip/e.conf" "$T/w/top.conf" "$T/cs/A.CONF" "$T/cs/b.conf"
rules_xml "<FileSet base=\"$T/w\"><Include key=\"etc/*.conf\"/><Include key=\"etc/*/*.conf\"/></FileSet><FileSet base=\"$T/w/var\"><Include key=\"**/*.log\"/><Exclude key=\"log/x.*\"/></FileSet><DirectorySet base=\"$T/w\"><Include key=\"*\"/></DirectorySet>" \
    "<FileSet base=\"$T/cs\"><Include key=\"*.conf\" caseSensitive=\"false\"/></FileSet>" >"$WORK/why.xml"
expect_status 0 "baseline of the why tree" -- "$AGENT" --workdir "$WORK/y" --config "$WORK/why.xml" baseline
sqlite3 "$WORK/y/si.db" "SELECT rtrim([key],'/') FROM Entitys WHERE supercededBy IS NULL AND entityType IN ('File','Directory')" |
    sort >"$WORK/recorded"
find "$T/w" "$T/cs" -mindepth 1 | sort >"$WORK/paths"
expect_status 0 "why of every path" -- "$RULES" --workdir "$WORK/y" --config "$WORK/why.xml" rules --why $(cat "$WORK/paths")
sed -n 's/^[A-Za-z]* \(.*\): recorded by .*/\1/p' "$WORK/out" | sort >"$WORK/explained"
check "why agrees with the baseline" cmp -s "$WORK/recorded" "$WORK/explained"
while IFS='|' read -r path reason; do
    expect_text "$WORK/out" "^File $T/$path: not recorded" "why not $path"
    expect_text "$WORK/out" "$reason" "reason for $path"
done <<TABLE
w/etc/deep/er/d.conf|FileSet [0-9]*: deeper than the patterns reach: the walk lists only the first 3 directory levels from $T/w$
w/var/log/x.log|FileSet [0-9]*: excluded by the Exclude with pattern "log/x.\*"$
w/skip/e.conf|FileSet [0-9]*: the walk does not enter $T/w/skip: no Include can match below it$
w/etc/b.txt|FileSet [0-9]*: no Include matched; unmatched reason 2: the extension differs
TABLE
expect_text "$WORK/out" "^File $T/cs/A.CONF: recorded by rule 2" "case rule: false matches upper case"
expect_status 0 "why of a user" -- "$RULES" --workdir "$WORK/y" --config "$WORK/three.xml" rules --why --type User root nosuchuser
expect_text "$WORK/out" '^User root: recorded by rule 3 "r3", UserSet' "user recorded"
expect_text "$WORK/out" 'no such entity on this host' "missing user explained"
expect_status 64 "--keep without --plan" -- "$RULES" --workdir "$WORK/w" rules --keep x
finish
