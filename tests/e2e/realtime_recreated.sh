# A directory renamed in a watched tree gives one rename per entity it holds,
# no more. A watched tree replaced while the agent runs, as deployments do, by
# fanotify and inotify alike: removed with the directory above it and made
# again; swapped for a tree moved in beside it; carried off with the directory
# above it, another put in its place. What left is reported deleted, what came
# is reported created, what is written there afterwards at once, and nothing
# written in the trees moved away. Each event names its entity's type, also
# for the files a directory's move carries. A directory made where only files
# are watched is no file. A check afterwards finds nothing to report.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
P=$WORK/p
B=$P/b
F=$WORK/files
realtime_config "$B" | sed "s|</FileSet>|&<DirectorySet base=\"$B\"><Include key=\"**\"/></DirectorySet>\
<FileSet base=\"$F\"><Include key=\"**\"/></FileSet>|" >"$WORK/config.xml"
not_reported() { ! reported "$@"; }
types_right() {
    python3 -c 'import json, os, sys
dirs = {"b", "sub", "sub.renamed", "sub2", "made"}
sys.exit(any(e["entityType"] != ("Directory" if os.path.basename(e["key"].split(" -> ")[-1]) in dirs else "File")
             for e in map(json.loads, open(sys.argv[1]))))' "$1/events.jsonl"
}
# swapped LABEL DIR ASIDE NEW LEFT CAME: DIR moved ASIDE and NEW moved into its
# place; the file LEFT, gone with DIR, is reported deleted, and CAME, come with NEW, created.
swapped() {
    mv "$2" "$3" && mv "$4" "$2"
    check "$engine: $1: what left reported" until_true 30 reported "$W" "$5" delete
    check "$engine: $1: what came reported" until_true 30 reported "$W" "$6" create
}

for engine in fanotify inotify; do
    mkdir -p "$B/sub" "$F" && echo v1 >"$B/old" && for i in $(seq 20); do echo $i >"$B/sub/s$i"; done
    W=$WORK/$engine
    A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
    start_realtime $engine
    mv "$B/sub" "$B/sub.renamed"
    until_true 60 quiet
    renamed="$(grep sub.renamed "$W/events.jsonl" | grep -c '"operationType":"rename"') of $(grep -c sub.renamed "$W/events.jsonl")"
    check "$engine: a directory of 20 files renamed: 21 events, each a rename [$renamed]" [ "$renamed" = "21 of 21" ]
    rm -rf "$P"
    check "$engine: the removed file reported" until_true 30 reported "$W" "$B/old" delete
    mkdir -p "$B"
    sleep 1
    echo new >"$B/new"
    check "$engine: a file in the tree made again reported at once" until_true 30 reported "$W" "$B/new" create

    mkdir -p "$P/b.next/sub2" && echo t >"$P/b.next/sub2/t"
    swapped "the tree swapped" "$B" "$P/b.prev" "$P/b.next" "$B/new" "$B/sub2/t"
    echo x >"$P/b.prev/x"
    echo y >"$B/sub2/y"
    check "$engine: swapped: a file written in the new tree reported" until_true 30 reported "$W" "$B/sub2/y" create

    mkdir -p "$WORK/q/b" && echo u >"$WORK/q/b/u"
    swapped "the parent swapped" "$P" "$WORK/p.prev" "$WORK/q" "$B/sub2/y" "$B/u"
    echo z >"$WORK/p.prev/b/z"
    mkdir "$B/made" "$F/made" && echo v >"$B/v" && echo w >"$F/made/w"
    check "$engine: the parent swapped: a file written reported" until_true 30 reported "$W" "$B/v" create
    check "$engine: a file in a directory made where files are watched reported" until_true 30 reported "$W" "$F/made/w" create
    check "$engine: nothing written in trees moved away reported" not_reported "$W" "$B/x" create
    check "$engine: ... nor in the parent moved away" not_reported "$W" "$B/z" create
    check "$engine: each event names its entity's type" types_right "$W"
    kill -TERM $agent && wait $agent
    check "the agent stopped cleanly ($engine)" [ $? -eq 0 ]
    expect_status 0 "$engine: a check finds nothing the engine missed or made up" -- "${A[@]}" check
    rm -rf "$P" "$WORK/p.prev" "$F"
done
finish
