# A stopped agent loses and invents nothing: kvo-agent is killed (SIGKILL) or
# stopped (SIGTERM) at random points of a baseline and of checks, and started
# again each time.
# The baseline it ends with equals one recorded without interruption; in
# event mode 1 the stored events are exactly the changes made, each once; in
# mode 2 each change reaches events.jsonl, and a repeat is the same line.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
SEED=${KVO_CRASH_SEED:-$$}
RANDOM=$SEED
echo "kill points seeded with $SEED (KVO_CRASH_SEED)"

T=$WORK/tree
mkdir -p "$T/a" "$T/b"
# 300 files of 2 KB (a/f000..f099, b/f100..f199, a/f200..f299) and a few large ones.
head -c 450000 /dev/urandom | base64 -w 100 | split -d -a 3 -l 20 --additional-suffix=.txt - "$T/a/f"
mv "$T"/a/f1??.txt "$T/b/"
# Hashing them holds the first changes' events in an open transaction for a while.
for i in $(seq 1 6); do head -c 24000000 /dev/urandom >"$T/big-$i.bin"; done
f() { printf '%s/f%03d.txt' "$1" "$2"; }

config() {
    config_xml "systemIntegrityEventMode=\"$1\"" 'id="3" name="Crash tree" identifier="1003" severity="2"' \
        "<FileSet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>"
}
config 1 >"$WORK/mode1.xml"
config 2 >"$WORK/mode2.xml"

now_ms() { date +%s%3N; }
# killed DIR CONFIG COMMAND RUNS SPAN_MS: RUNS times, COMMAND stopped after a random part of
# SPAN_MS, by turns with SIGKILL and with SIGTERM (which must end it within 10 s).
killed() {
    local dir=$1 conf=$2 command=$3 runs=$4 span=$5 n pid signal
    for n in $(seq 1 "$runs"); do
        "$AGENT" --workdir "$dir" --config "$conf" "$command" >/dev/null 2>&1 &
        pid=$!
        local ms=$(((RANDOM * 32768 + RANDOM) % span))
        sleep "$((ms / 1000)).$(printf '%03d' $((ms % 1000)))"
        signal=$([ $((n % 2)) -eq 0 ] && echo TERM || echo KILL)
        kill -"$signal" "$pid" 2>/dev/null
        for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        check "$command stopped by SIG$signal ends" not_running "$pid"
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}
not_running() { ! kill -0 "$1" 2>/dev/null; }
current() { sqlite3 "$1/si.db" "SELECT [key], hex([attributeHash]) FROM [Entitys] WHERE [supercededBy] ISNULL ORDER BY [key];"; }

started=$(now_ms)
expect_status 0 "an uninterrupted baseline" -- "$AGENT" --workdir "$WORK/ref" --config "$WORK/mode1.xml" baseline
span=$(($(now_ms) - started))
expect_status 0 "a baseline of the mode-2 work directory" -- \
    "$AGENT" --workdir "$WORK/json" --config "$WORK/mode2.xml" baseline

killed "$WORK/crash" "$WORK/mode1.xml" baseline 20 "$span"
expect_status 0 "the baseline after 20 stops" -- "$AGENT" --workdir "$WORK/crash" --config "$WORK/mode1.xml" baseline
current "$WORK/ref" >"$WORK/ref.current"
current "$WORK/crash" >"$WORK/crash.current"
check "the baseline after stops equals the uninterrupted one ($(wc -l <"$WORK/ref.current") entities)" \
    cmp -s "$WORK/ref.current" "$WORK/crash.current"

# Known changes: 8 of each kind, contents long and unique enough to be followed by a rename.
: >"$WORK/expected"
for i in $(seq 1 8); do
    echo "edited $i" >>"$(f "$T/a" $((i * 2)))"; echo "update $(f "$T/a" $((i * 2)))" >>"$WORK/expected"
    rm "$(f "$T/b" $((100 + i * 2)))"; echo "delete $(f "$T/b" $((100 + i * 2)))" >>"$WORK/expected"
    echo "a new file number $i with some words" >"$T/new-$i.txt"; echo "create $T/new-$i.txt" >>"$WORK/expected"
    mv "$(f "$T/b" $((150 + i * 2)))" "$T/a/moved-$i.txt"
    echo "rename $(f "$T/b" $((150 + i * 2))) -> $T/a/moved-$i.txt" >>"$WORK/expected"
done
sort -o "$WORK/expected" "$WORK/expected"

killed "$WORK/crash" "$WORK/mode1.xml" check 10 "$span"
"$AGENT" --workdir "$WORK/crash" --config "$WORK/mode1.xml" check >/dev/null 2>&1
sqlite3 -separator ' ' "$WORK/crash/si.db" "SELECT CASE [change] WHEN 1 THEN 'create' WHEN 2 THEN 'update'
    WHEN 3 THEN 'delete' WHEN 4 THEN 'rename' END, [key] FROM [IntegrityEvents]
    WHERE [change] BETWEEN 1 AND 4;" | sort >"$WORK/mode1.events"
check "mode 1: the stored events are the changes, each once" cmp -s "$WORK/expected" "$WORK/mode1.events"
[ "$failures" -eq 0 ] || diff "$WORK/expected" "$WORK/mode1.events" | head -20

killed "$WORK/json" "$WORK/mode2.xml" check 10 "$span"
"$AGENT" --workdir "$WORK/json" --config "$WORK/mode2.xml" check >/dev/null 2>&1
lines=$WORK/json/events.jsonl
sed -E 's/.*"operationType":"([a-z]+)".*"key":"([^"]*)".*/\1 \2/' "$lines" | sed 's/\\\//\//g' | sort -u >"$WORK/mode2.events"
check "mode 2: every change reached events.jsonl" cmp -s "$WORK/expected" "$WORK/mode2.events"
check "mode 2: a repeated event is the same line" [ "$(sort -u "$lines" | wc -l)" -eq "$(wc -l <"$WORK/mode2.events")" ]
[ "$failures" -eq 0 ] || diff "$WORK/expected" "$WORK/mode2.events" | head -20
finish
