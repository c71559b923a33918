# kvo-agent baseline: records exactly the files and directories a rule names
# and reports them; run again it records a new baseline of the same set;
# killed (SIGKILL, then SIGINT) in the middle of the walk and run again it ends
# with the set an uninterrupted run records, each key once; it keeps off a work
# directory that `run` holds, says why a scan cannot complete, and records what
# the default configuration names.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

# same FILE1 FILE2 DESCRIPTION: the two files hold the same lines.
same() {
    if cmp -s "$1" "$2"; then passes=$((passes + 1)); else
        echo "FAIL: $3"
        diff "$1" "$2" | head -10 | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}

# wait_sql DB SQL: until the query gives a non-empty, non-zero answer, at most 60 s.
wait_sql() {
    for _ in $(seq 1200); do
        local got
        got=$(sqlite3 -readonly "$1" "$2" 2>/dev/null)
        [ -n "$got" ] && [ "$got" != 0 ] && return 0
        sleep 0.05
    done
    return 1
}

# Many directories, since the walk commits one at a time: it lasts long enough
# to be stopped in. The *.tmp files are what the rule leaves out.
T=$WORK/tree
for a in $(seq 40); do
    mkdir -p "$T/a$a/b"{1..40}
    for b in $(seq 40); do
        echo "$a $b 1" >"$T/a$a/b$b/f1.txt"
        echo "$a $b 2" >"$T/a$a/b$b/f2.txt"
    done
    echo "$a" >"$T/a$a/top.cfg"
    echo scratch >"$T/a$a/x.tmp"
done
mkdir -p "$T/empty dir"

# config CPU_LIMIT: the rule over the tree.
config() {
    config_xml "systemIntegrityCPULimit=\"$1\" ${2:-}" 'id="7" name="Tree" identifier="1007" severity="2"' \
        "<FileSet base=\"$T\"><Include key=\"**\"/><Exclude key=\"**/*.tmp\"/><Attributes><STANDARD/></Attributes></FileSet>
         <DirectorySet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/></Attributes></DirectorySet>"
}
config 100 >"$WORK/fast.xml"
config 10 'systemIntegrityIoPriorityIdle="true"' >"$WORK/slow.xml"

# current DB: the current entities, one "type key attributeHash" line each, sorted.
current() {
    sqlite3 "$1" "SELECT [entityType], rtrim([key],'/'), hex([attributeHash]) FROM [Entitys]
                  WHERE [supercededBy] IS NULL AND [key] IS NOT NULL;" | sort
}
# keys_twice DB: keys recorded more than once as current in one entity set.
keys_twice() {
    sqlite3 "$1" "SELECT [key] FROM [Entitys] WHERE [supercededBy] IS NULL AND [key] IS NOT NULL
                  GROUP BY [entitySetId], [keyCanonical] HAVING COUNT(*) > 1;"
}
{
    find "$T" -mindepth 1 -type d | sed 's/^/Directory|/'
    find "$T" -type f ! -name '*.tmp' | sed 's/^/File|/'
} | sort >"$WORK/expected"

# An uninterrupted baseline, in its own work directory: the reference.
R=$WORK/reference
expect_status 0 "a baseline" -- "$AGENT" --workdir "$R" --config "$WORK/fast.xml" baseline
cp "$WORK/out" "$WORK/summary"
expect_text "$WORK/summary" "^baseline scan 1 completed in [0-9.]* s$" "the summary names the scan and its duration"
expect_text "$WORK/summary" "^  File  *3240$" "the summary counts the files"
expect_text "$WORK/summary" "^  Directory  *1641$" "the summary counts the directories"
expect_text "$WORK/summary" "^database: $R/si.db ([0-9.]* MB)$" "the summary gives the database size"
check "no progress line when stderr is not a terminal" [ -z "$(grep -e "entities recorded" -e $'\r' "$WORK/err")" ]
current "$R/si.db" >"$WORK/reference.set"
cut -d'|' -f1,2 "$WORK/reference.set" | sort >"$WORK/reference.keys"
same "$WORK/expected" "$WORK/reference.keys" "the current entities are the files and directories the rule names"
check "every current entity has its attributes" [ -z "$(grep '|$' "$WORK/reference.set")" ]
check "the scan was closed" \
    [ "$(sqlite3 "$R/si.db" "SELECT COUNT(*) FROM [Scans] WHERE [incrementalScan]=0 AND [endTime]>0;")" = 1 ]
check "the agent closed the database" [ ! -e "$R/si.db-wal" ]

expect_status 0 "a second baseline" -- "$AGENT" --workdir "$R" --config "$WORK/fast.xml" baseline
expect_text "$WORK/out" "^baseline scan 2 completed" "the second run is a scan of its own"
current "$R/si.db" >"$WORK/second.set"
same "$WORK/reference.set" "$WORK/second.set" "the second baseline has the same current entities"
check "each key once after the second baseline" [ -z "$(keys_twice "$R/si.db")" ]

# Killed mid-walk, twice (SIGKILL, then SIGINT), then run to its end. The walk
# goes in key order: a checkpoint below a1* leaves most of it still to do.
K=$WORK/killed
walking="SELECT COUNT(*) FROM [Subscans] WHERE [entityType]='File' AND [scanStep]=200000"
early="$walking AND [checkpointInfo] LIKE '%/tree/a1%'"
"$AGENT" --workdir "$K" --config "$WORK/slow.xml" baseline >"$WORK/k1.out" 2>&1 &
pid=$!
check "the first run reaches the walk" wait_sql "$K/si.db" "$early;"
check "a scanner reads in the idle IO class" grep -q idle <(for t in /proc/$pid/task/*; do ionice -p "${t##*/}"; done)
# The shell's own "Killed" notice is no failure.
exec 3>&2 2>/dev/null
kill -KILL $pid
wait $pid
exec 2>&3 3>&-
check "the kill landed in the walk" [ "$(sqlite3 "$K/si.db" "$walking;")" != 0 ]
check "the scan was left open" \
    [ "$(sqlite3 "$K/si.db" "SELECT COUNT(*) FROM [Scans] WHERE [endTime] IS NULL;")" = 1 ]

# A subscan keeps its old checkpoint until its new scanner starts: wait for one started now.
since=$(date +%s%3N)
"$AGENT" --workdir "$K" --config "$WORK/slow.xml" baseline >"$WORK/k2.out" 2>"$WORK/k2.err" &
pid=$!
check "the second run walks again" wait_sql "$K/si.db" "$early AND [startTime]>=$since;"
kill -INT $pid
wait $pid
status=$?
check "SIGINT ends baseline with status 75 (got $status)" [ "$status" -eq 75 ]
expect_text "$WORK/k2.err" "resuming baseline scan 1" "the second run resumed the killed scan"
expect_text "$WORK/k2.err" "interrupted; baseline scan 1 is left unfinished" "the interruption is reported"

# Settings are not rules: at full speed it is still the same baseline.
expect_status 0 "the baseline run after the interruptions" -- "$AGENT" --workdir "$K" --config "$WORK/fast.xml" baseline
expect_text "$WORK/err" "resuming baseline scan 1" "the third run resumed it too"
expect_text "$WORK/out" "^baseline scan 1 completed" "the resumed scan is the one reported"
current "$K/si.db" >"$WORK/killed.set"
same "$WORK/reference.set" "$WORK/killed.set" "after the interruptions the current entities are those of an uninterrupted run"
check "each key once after the interruptions" [ -z "$(keys_twice "$K/si.db")" ]

# run holds the work directory: baseline starts no second agent on it but
# waits for the baseline that the running agent is recording.
H=$WORK/held
"$AGENT" --workdir "$H" --config "$WORK/fast.xml" run >/dev/null 2>&1 &
pid=$!
check "run starts" wait_sql "$H/si.db" "SELECT COUNT(*) FROM [Scans];"
expect_status 0 "baseline while run holds the work directory" -- "$AGENT" --workdir "$H" --config "$WORK/fast.xml" baseline
expect_text "$WORK/err" "the running agent is in the middle of baseline scan 1; waiting for it" "it says whose scan it waits for"
expect_text "$WORK/out" "^baseline scan 1 completed in" "and reports that scan"
check "still one scan" [ "$(sqlite3 "$H/si.db" "SELECT COUNT(*) FROM [Scans];")" = 1 ]
kill -TERM $pid
wait $pid

# A scan that cannot complete: its file set's directory expression no longer
# compiles, so the file scanner aborts it.
sqlite3 "$R/si.db" "UPDATE [FileSets] SET [directoryRegEx]='(';"
expect_status 70 "a baseline whose file scan aborts" -- "$AGENT" --workdir "$R" --config "$WORK/fast.xml" baseline
expect_text "$WORK/err" "baseline scan 3 cannot complete: the File scan aborted" "the abort is reported"
# An unfinished baseline left with only a subscan of a type this agent has no
# scanner for (services exist on Windows hosts only): the agent drops that
# subscan and completes the scan at once.
S=$WORK/service
grep -v -e '<FileSet' -e '<DirectorySet' "$WORK/fast.xml" >"$WORK/nothing.xml"
expect_status 0 "a baseline with nothing to record" -- "$AGENT" --workdir "$S" --config "$WORK/nothing.xml" baseline
sqlite3 "$S/si.db" "INSERT INTO [Scans] ([startTime],[startingHighestExistingEntityId],[incrementalScan])
                    VALUES (strftime('%s','now')*1000, 0, 0);
                    INSERT INTO [Subscans] ([scanId],[entityType],[scanStep]) VALUES (last_insert_rowid(),'Service',0);"
expect_status 0 "resuming a baseline whose entity types have no scanner" -- \
    "$AGENT" --workdir "$S" --config "$WORK/nothing.xml" baseline
expect_text "$WORK/err" "resuming baseline scan 2" "the unfinished scan is the one resumed"
expect_text "$WORK/out" "baseline scan 2 completed" "the scan without a scanner completes"

# Refused at once, where waiting would never end or cannot begin:
# status|work directory|configuration|extra option|what the message says.
mkdir -p "$WORK/unusable/si.db"
echo '<SecurityConfiguration/>' >"$WORK/empty.xml"
while IFS='|' read -r want dir conf option says; do
    expect_status "$want" "baseline: $says" -- "$AGENT" --workdir "$WORK/$dir" --config "$WORK/$conf" $option baseline
    expect_text "$WORK/err" "$says" "baseline: the message says '$says'"
done <<'CASES'
69|unusable|fast.xml||database .* cannot be used
65|off|empty.xml||the configuration is empty
64|off|fast.xml|--set zel.im.featureOn=false|integrity monitoring is switched off
CASES

# An agent killed while the plug-in created si.db leaves an empty file, or one
# with only a header (the journal mode is set first): the next start completes it.
for half in empty header; do
    mkdir -p "$WORK/half-$half"
    if [ $half = empty ]; then : >"$WORK/half-$half/si.db"; else sqlite3 "$WORK/half-$half/si.db" "PRAGMA journal_mode=WAL;" >/dev/null; fi
    chmod 600 "$WORK/half-$half/si.db"
    expect_status 0 "baseline on a si.db left $half" -- "$AGENT" --workdir "$WORK/half-$half" --config "$WORK/fast.xml" baseline
    expect_text "$WORK/out" "baseline scan 1 completed" "the baseline on a si.db left $half completes"
done

# The page cache is left as the baseline found it: the pages it read of a file
# nobody had cached are dropped again, a cached file stays cached.
P=$WORK/cache
mkdir -p "$P"
for f in cold warm; do head -c 4000000 /dev/urandom >"$P/$f"; done
python3 -c 'import os, sys
for f in sys.argv[1:]: fd = os.open(f, os.O_RDONLY); os.fsync(fd); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)' "$P"/*
cat "$P/warm" >/dev/null
config_xml '' 'id="1" name="Cache" identifier="1" severity="1"' \
    "<FileSet base=\"$P\"><Include key=\"**\"/><Attributes><sha256/></Attributes></FileSet>" >"$WORK/cache.xml"
expect_status 0 "a baseline of a cold and a warm file" -- "$AGENT" --workdir "$WORK/w-cache" --config "$WORK/cache.xml" baseline
# (The kernel may evict a page of the warm file meanwhile on a busy machine.)
read -r cold warm <<<"$(fincore -n -o PAGES "$P/cold" "$P/warm" | xargs)"
check "the cold file's pages are dropped, the warm file's kept: $cold $warm" [ "$cold" = 0 -a "$warm" -gt 900 ]

# The default configuration: /etc's configuration files and /usr/sbin's programs.
D=$WORK/default
expect_status 0 "a baseline of the default configuration" -- \
    "$AGENT" --workdir "$D" --config "$SRC/examples/default.xml" baseline
sqlite3 "$D/si.db" "SELECT [key] FROM [Entitys] WHERE [supercededBy] IS NULL AND [entityType]='File';" | sort >"$WORK/default.keys"
{
    find /usr/sbin -mindepth 1 -maxdepth 1 -type f
    echo /etc/passwd
    echo /etc/group
    find /etc -name '*.conf' -type f
} | sort -u >"$WORK/default.some"
check "the default rules record /usr/sbin's programs and /etc's configuration files" \
    [ -z "$(comm -23 "$WORK/default.some" "$WORK/default.keys")" ]
check "and nothing outside /etc and /usr/sbin" [ -z "$(grep -v -e '^/etc/' -e '^/usr/sbin/' "$WORK/default.keys")" ]

finish
