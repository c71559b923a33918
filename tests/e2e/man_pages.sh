# The man pages render without a warning, and kvo-agent(8) names exactly the
# commands and options that the help texts show: neither may drift from the other.
source "$(dirname "$0")/common.bash" "$@"
MAN=$(dirname "$AGENT")/../man
PAGE=$SRC/man/kvo-agent.8.scd
cd "$WORK" || exit 1

for page in kvo-agent.8 kvo-agent.xml.5; do
    MANWIDTH=80 man --warnings -l "$MAN/$page" >"$WORK/$page.txt" 2>"$WORK/warnings"
    check "$page renders" [ -s "$WORK/$page.txt" ]
    check "$page renders without warnings: $(head -5 "$WORK/warnings")" [ ! -s "$WORK/warnings" ]
done

# Every help text: the agent's, each command's own, the rule tool's.
"$AGENT" --help >"$WORK/help"
"$(dirname "$AGENT")/kvo-rules" --help >>"$WORK/help"
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p' "$WORK/help" | sort -u)
check "the help lists commands" [ "$(echo "$commands" | wc -l)" -gt 10 ]
for command in $commands; do "$AGENT" "$command" --help >>"$WORK/help" 2>/dev/null; done
options=$(grep -o -- '--[a-z][a-z-]*' "$WORK/help" | sort -u)

# The page's commands are the entries of its COMMANDS section.
page_commands=$(sed -n '/^# COMMANDS/,/^# [A-Z]/s/^\*\([a-z][a-z-]*\)\*.*/\1/p' "$PAGE" | sort -u)
page_options=$(grep -o -- '--[a-z][a-z-]*' "$PAGE" | sort -u)

# covers WHAT NAMES KNOWN: every name of NAMES is among KNOWN.
covers() {
    local missing
    missing=$(comm -23 <(echo "$2") <(echo "$3") | tr '\n' ' ')
    check "$1: $missing" [ -z "$missing" ]
}
covers "commands of the help missing from kvo-agent(8)" "$commands" "$page_commands"
covers "commands of kvo-agent(8) that no help lists" "$page_commands" "$commands"
covers "options of the help texts missing from kvo-agent(8)" "$options" "$page_options"
covers "options of kvo-agent(8) that no help text shows" "$page_options" "$options"

finish
