# File-system faults met by the scanners: a file rewritten while a baseline
# hashes it, a file that vanishes while a check gathers, a directory the agent
# cannot list during a check, a symbolic-link loop, and an include too costly to match.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
chmod 755 "$WORK"

# config TREE [SET_ATTRIBUTES] [MORE_SETS]: a FileSet over TREE, contents as sha256.
config() {
    config_xml 'contentShortHandMapping="sha256"' 'id="3" name="Faults" identifier="1003" severity="2"' \
        "<FileSet base=\"$1\" ${2:-}><Include key=\"**\"/><Attributes><STANDARD/></Attributes></FileSet>${3:-}"
}
# agent WORKDIR CONFIG COMMAND: runs the agent in the background; its pid in $pid.
agent() { "$AGENT" --workdir "$1" --config "$2" "$3" >"$WORK/out" 2>"$WORK/err" & pid=$!; }
# wait_open FILE: waits until the agent ($pid) has FILE open; false when it ended first.
wait_open() {
    for _ in $(seq 12000); do
        ls -l "/proc/$pid/fd" 2>/dev/null | grep -q -- "-> $1\$" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.01
    done
    return 1
}
events() { grep -E '^[0-9]+ [0-9T:.Z-]+ [a-z]+ \[' "$WORK/out" | cut -d' ' -f3,7- | sort; }

# A big file truncated and written again (same bytes, same times) while the
# baseline hashes it: no crash, and the check after it finds nothing changed.
T=$WORK/big
mkdir "$T"
head -c 64M /dev/urandom >"$WORK/big.orig"
cp -p "$WORK/big.orig" "$T/big.bin"
config "$T" >"$WORK/big.xml"
agent "$WORK/w-big" "$WORK/big.xml" baseline
check "the baseline opens the big file" wait_open "$T/big.bin"
cp --preserve=timestamps "$WORK/big.orig" "$T/big.bin"
wait "$pid"
check "the baseline ends normally while its file is rewritten (status $?)" [ "$?" -eq 0 ]
expect_status 0 "the check after a rewrite to the same content invents no change" -- \
    "$AGENT" --workdir "$WORK/w-big" --config "$WORK/big.xml" check
rm -f "$WORK/big.orig" "$T/big.bin"

# A file removed after matching, while the check hashes a file before it:
# one delete, then nothing.
T=$WORK/vanish
mkdir "$T"
truncate -s 2G "$T/a-slow"
echo "gone before its attributes are read" >"$T/b-victim"
config "$T" >"$WORK/vanish.xml"
expect_status 0 "baseline of the vanishing file" -- "$AGENT" --workdir "$WORK/w-vanish" --config "$WORK/vanish.xml" baseline
agent "$WORK/w-vanish" "$WORK/vanish.xml" check
check "the check hashes the file before the victim" wait_open "$T/a-slow"
rm "$T/b-victim"
wait "$pid"
check "a file that vanished while gathering: exit status $? is deleted only" [ "$?" -eq 2 ]
check "one delete event: [$(events)]" [ "$(events)" = "delete File $T/b-victim" ]
expect_status 0 "the next check finds nothing more" -- "$AGENT" --workdir "$WORK/w-vanish" --config "$WORK/vanish.xml" check
rm -f "$T/a-slow"

# A directory the agent (as nobody) cannot list during a check: nothing below
# it is deleted, a warning and an agent event name it; readable again, nothing
# below it is created.
T=$WORK/locked
mkdir -p "$T/dir/sub"
echo one >"$T/dir/one"
echo three >"$T/dir/sub/three"
config "$T" "" "<DirectorySet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/></Attributes></DirectorySet>" \
    >"$WORK/locked.xml"
install -d -o nobody "$WORK/w-locked"
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$AGENT" --workdir "$WORK/w-locked" \
    --config "$WORK/locked.xml" "$@"; }
expect_status 0 "baseline as nobody" -- as_nobody baseline
chmod 000 "$T/dir"
# Only the directory's own permissions changed, each time.
expect_status 4 "a directory that cannot be listed deletes nothing" -- as_nobody check
check "only its permissions changed: [$(events)]" [ "$(events)" = "update Directory $T/dir" ]
expect_text "$WORK/err" "cannot list directory $T/dir: Permission denied" "the warning names the directory and the error"
for type in File Directory; do
    expect_text "$WORK/w-locked/agent-events.log" "^3010|$type scanner cannot list directory $T/dir: Permission denied" \
        "the $type scanner's agent event"
done
chmod 755 "$T/dir"
expect_status 4 "the directory readable again creates nothing" -- as_nobody check
check "only its permissions changed back: [$(events)]" [ "$(events)" = "update Directory $T/dir" ]
chmod 000 "$T/dir"
expect_status 0 "a baseline of a directory that cannot be listed" -- as_nobody baseline
chmod 755 "$T/dir"
expect_status 4 "after that baseline, readable again, nothing below it is created" -- as_nobody check
check "only its permissions changed back again: [$(events)]" [ "$(events)" = "update Directory $T/dir" ]

# A link back to an ancestor with followLinks: the walk ends, each file once.
T=$WORK/loop
mkdir -p "$T/a"
echo f >"$T/a/f"
ln -s "$T" "$T/a/up"
config "$T" 'followLinks="true"' >"$WORK/loop.xml"
expect_status 0 "a followed link loop ends" -- timeout 60 "$AGENT" --workdir "$WORK/w-loop" --config "$WORK/loop.xml" baseline
expect_text "$WORK/err" "Symbolic link loop: $T/a/up leads back to $T" "the warning names the loop"
check "each file once" [ "$(sqlite3 "$WORK/w-loop/si.db" "SELECT GROUP_CONCAT([key]) FROM [Entitys] WHERE
    [entityType]='File' AND [supercededBy] IS NULL;")" = "$T/a/f" ]

# An include whose expression backtracks without end (nested "+"): matching
# gives up on the key with a warning naming both, and the key stays monitored.
T=$WORK/costly
K=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaacx
mkdir "$T" && touch "$T/$K"
config_xml '' 'id="3" name="Faults" identifier="1003" severity="2"' \
    "<FileSet base=\"$T\"><Include key=\"a*+*+*+*+c\"/><Attributes><STANDARD/></Attributes></FileSet>" >"$WORK/costly.xml"
expect_status 0 "a runaway include ends" -- timeout 60 "$AGENT" --workdir "$WORK/w-costly" --config "$WORK/costly.xml" baseline
expect_text "$WORK/err" "Pattern '.*a(\[^/\]\*)+.*' is too costly to match against '$K'" "the warning names pattern and key"
check "the undecided key is monitored" [ "$(sqlite3 "$WORK/w-costly/si.db" "SELECT [key] FROM [Entitys] WHERE
    [entityType]='File';")" = "$T/$K" ]

finish
