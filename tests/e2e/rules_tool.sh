# kvo-rules, the rule authors' tool: rules printed back with what the agent
# does not take, exit statuses, and the glob translations.
source "$(dirname "$0")/common.bash" "$@"
RULES="$(dirname "$AGENT")/kvo-rules"
DATA="$SRC/tests/data/rules"

# expect_line FILE LINE DESCRIPTION: FILE holds LINE as a whole line.
expect_line() {
    if grep -qxF -- "$2" "$1"; then
        passes=$((passes + 1))
    else
        echo "FAIL: $3: line '$2' not found in $1:"
        sed 's/^/    /' "$1" | head -30
        failures=$((failures + 1))
    fi
}

# --- rules ---
expect_status 1 "rule with problems on Linux" -- "$RULES" --workdir "$WORK/w" --config "$DATA/not-accepted.xml" rules
expect_line "$WORK/out" "      <members />" "unsupported attribute printed back"
expect_text "$WORK/out" '<DirectorySet .*colour="unknown"' "unknown set attribute printed back"
expect_line "$WORK/out" "  <ServiceSet/>" "unsupported set printed back"
expect_text "$WORK/out" "^rule 7 \"Mixed bag\": " "summary names the rule"
expect_text "$WORK/out" "unsupported attribute members in FileSet" "summary: members"
expect_text "$WORK/out" "unknown attribute colour on DirectorySet" "summary: colour"
expect_text "$WORK/out" "unsupported ServiceSet" "summary: ServiceSet"
check "the value of an unknown attribute is dropped" [ -z "$(grep -F red "$WORK/out")" ]

expect_status 0 "accepted rule" -- "$RULES" --workdir "$WORK/w" --config "$DATA/accepted.xml" rules
expect_line "$WORK/out" 'rule 1 "System configuration": accepted' "accepted summary"
expect_line "$WORK/out" "      <sha256 />" "monitored attribute printed back"
expect_text "$WORK/out" 'Include key="ssh/\*" executable="false"' "feature printed back with its value"
expect_text "$WORK/out" 'hash="[0-9a-f]\{64\}"' "configuration layer adds the hash"

expect_status 0 "default configuration" -- "$RULES" --workdir "$WORK/w" --config "$SRC/examples/default.xml" rules
expect_line "$WORK/out" 'rule 2 "System programs": accepted' "second default rule accepted"

expect_status 1 "every kind, Linux" -- "$RULES" --workdir "$WORK/w" --config "$DATA/all-kinds.xml" rules
expect_line "$WORK/out" 'rule 10 "Web server": accepted' "portable rule accepted"
expect_line "$WORK/out" 'rule 13 "Windows registry": unsupported RegistryKeySet; unsupported RegistryValueSet; unsupported WQLSet' \
    "Windows-only kinds listed"
expect_status 1 "every kind, read as on Windows" -- "$RULES" --workdir "$WORK/w" --config "$DATA/all-kinds.xml" \
    --set kvo.host.windows=true rules
expect_line "$WORK/out" 'rule 13 "Windows registry": accepted' "the platform decides what is accepted"

expect_status 65 "broken rule file" -- "$RULES" --workdir "$WORK/w" --config "$DATA/broken.xml" rules
expect_text "$WORK/err" "broken.xml" "broken file named"
expect_text "$WORK/err" "line 5" "broken file line"

expect_status 65 "value that does not parse" -- "$RULES" --workdir "$WORK/w" --config "$DATA/bad-value.xml" rules
expect_text "$WORK/err" "severity" "bad attribute named"
expect_text "$WORK/err" "line 4" "bad attribute line"

printf '<SecurityConfiguration><AgentConfiguration/></SecurityConfiguration>\n' >"$WORK/norules.xml"
expect_status 65 "configuration without rules" -- "$RULES" --workdir "$WORK/w" --config "$WORK/norules.xml" rules
expect_text "$WORK/err" "/SecurityConfiguration/IntegrityRules" "missing element named"

expect_status 1 "kvo-agent rules runs the tool" -- "$AGENT" --workdir "$WORK/w" --config "$DATA/not-accepted.xml" rules
expect_text "$WORK/out" "unsupported ServiceSet" "agent hands over"

# --- usage ---
expect_status 0 "--help" -- "$RULES" --help
expect_status 64 "no command" -- "$RULES" --workdir "$WORK/w"
expect_status 64 "unknown command" -- "$RULES" --workdir "$WORK/w" frobnicate
expect_text "$WORK/err" "unknown command frobnicate.*--help" "unknown command named"
expect_status 64 "unknown option" -- "$RULES" --bogus rules
expect_text "$WORK/err" "unknown option --bogus.*--help" "unknown option named"
expect_status 64 "unknown glob option" -- "$RULES" --workdir "$WORK/w" glob --bogus x
expect_text "$WORK/err" "--bogus.*--help" "unknown glob option named"
expect_status 64 "glob without pattern" -- "$RULES" --workdir "$WORK/w" glob --base
expect_status 64 "rules with an argument" -- "$RULES" --workdir "$WORK/w" rules extra
expect_status 64 "--set without =" -- "$RULES" --set novalue rules

# --- glob ---
# expect_glob DESCRIPTION EXPECTED -- ARGS...
expect_glob() {
    local what=$1 want=$2
    shift 3
    expect_status 0 "$what" -- "$RULES" --workdir "$WORK/w" glob "$@"
    if [ "$(cat "$WORK/out")" = "$want" ]; then
        passes=$((passes + 1))
    else
        echo "FAIL: $what: got '$(cat "$WORK/out")', expected '$want'"
        failures=$((failures + 1))
    fi
}

while IFS=$'\t' read -r glob want; do
    expect_glob "pattern '$glob'" "$want" -- -- "$glob"
done <<'TABLE'
*.conf	^([^/]*)\.conf$
a?c	^a([^/]{1})c$
/etc/passwd	^etc/passwd$
**/*.log	^([^/]*/)*([^/]*)\.log$
etc/*.d/**	^etc/([^/]*)\.d(/.*)*$
var/**/	^var([^/]*/)+$
var/log/	^var/log/$
a**/**b	^a([^/]*)([^/]*)b$
etc/*/**	^etc/.*$
**	.*
**/	^([^/]*/)*$
/	^$
a+b|c	^a+b|c$
TABLE

expect_glob "empty pattern" '^$' -- -- ''
expect_glob "several patterns, one line each" $'^([^/]*)\\.conf$\n^etc/passwd$' -- '*.conf' /etc/passwd
expect_glob "base directory" '^/var/log(/.+)?$' -- --base /var/log
expect_glob "base with a wildcard" '^/opt/([^/]*)/bin(/.+)?$' -- --base /opt/*/bin
expect_glob "pattern after --" '^--base$' -- -- --base

finish
