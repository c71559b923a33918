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

# config_xml AGENT_ATTRIBUTES RULE_ATTRIBUTES SETS: a configuration of one rule, without on-change.
config_xml() {
    printf '<SecurityConfiguration>\n<AgentConfiguration systemIntegrityAllowOnChange="false" %s/>\n<IntegrityRules>\n' "$1"
    printf '<IntegrityRule %s allowOnChange="false">%s</IntegrityRule>\n</IntegrityRules>\n</SecurityConfiguration>\n' "$2" "$3"
}

finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
