# The host refuses bad command lines and bad configurations clearly, and
# prepares a usable database for a good one.
source "$(dirname "$0")/common.bash" "$@"

expect_status 64 "no command" -- "$AGENT" --workdir "$WORK/w"
expect_status 64 "unknown option" -- "$AGENT" --bogus x run
expect_text "$WORK/err" "unknown option --bogus" "unknown option is named"
expect_status 64 "unknown command" -- "$AGENT" --workdir "$WORK/w" frobnicate
expect_status 64 "--set without =" -- "$AGENT" --set novalue run

expect_status 65 "missing configuration" -- "$AGENT" --workdir "$WORK/w" --config "$WORK/none.xml" run
expect_text "$WORK/err" "none.xml" "missing file is named"

printf '<SecurityConfiguration>\n  <IntegrityRules>\n    <IntegrityRule id="1">\n  </IntegrityRules>\n</SecurityConfiguration>\n' >"$WORK/broken.xml"
expect_status 65 "broken configuration" -- "$AGENT" --workdir "$WORK/w" --config "$WORK/broken.xml" run
expect_text "$WORK/err" "broken.xml" "broken file is named"
expect_text "$WORK/err" "line 4" "parse error line"

# mirt mode: the control loop hands scanning over and returns at once, so run ends.
expect_status 0 "default configuration" -- "$AGENT" --workdir "$WORK/w" --config "$SRC/examples/default.xml" \
    --set zel.im.mirtMode=true run
tables=$(sqlite3 "$WORK/w/si.db" "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name GLOB '*Sets';")
check "expected 11 entity-set tables, found $tables" [ "$tables" = 11 ]

expect_status 69 "database in a missing directory" -- "$AGENT" --workdir "$WORK/w" --config "$SRC/examples/default.xml" \
    --set "zel.im.dbPath=$WORK/no/such/dir/si.db" run
expect_text "$WORK/err" "no/such/dir/si.db" "unusable database is named"

printf 'this is not a database, just some text that is long enough to fill a header of a file ..........\n' >"$WORK/garbage.db"
expect_status 69 "corrupt database" -- "$AGENT" --workdir "$WORK/w" --config "$SRC/examples/default.xml" \
    --set "zel.im.dbPath=$WORK/garbage.db" run
expect_text "$WORK/err" "not a database" "corrupt database reason"
check "the corrupt file is left unchanged" grep -q "this is not a database" "$WORK/garbage.db"

finish
