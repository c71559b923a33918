# kvo-agent exec: scripts, their errors, signals and configuration reloads.
source "$(dirname "$0")/common.bash" "$@"
cd "$WORK"
A=("$AGENT" --workdir "$WORK/w" --config "$SRC/examples/default.xml")

expect_status 0 "--help" -- "$AGENT" --help
expect_status 0 "--version" -- "$AGENT" --version
expect_text "$WORK/out" "kvo-agent [0-9]" "version line"

expect_status 64 "exec without a script" -- "${A[@]}" exec
expect_text "$WORK/err" "kvo-agent --help" "usage errors say how to get help"
expect_status 65 "missing script" -- "${A[@]}" exec "$WORK/absent.lua"
expect_text "$WORK/err" "absent.lua" "missing script named"

printf 'local function f() error("boom here") end\nf()\n' >"$WORK/bad.lua"
expect_status 65 "script that raises" -- "${A[@]}" exec bad.lua
expect_text "$WORK/err" "boom here" "error text"
expect_text "$WORK/err" "stack traceback" "traceback"

printf 'local x = \n' >"$WORK/syntax.lua"
expect_status 65 "script that does not compile" -- "${A[@]}" exec syntax.lua
expect_text "$WORK/err" "syntax.lua:2" "syntax error with its line"

# A relative script path is taken from where the user stands, not from the work directory.
printf 'print("ran " .. select("#", ...) .. " " .. tostring(...))\n' >"$WORK/ok.lua"
expect_status 0 "relative script path" -- "${A[@]}" exec ok.lua one two
expect_text "$WORK/out" "ran 2 one" "arguments"

# SIGTERM ends a script that waits on the agent.
cat >"$WORK/wait.lua" <<'LUA'
local f = io.open("ready", "w") f:write("1") f:close()
while not dom:ShouldExit(60000) do end
local g = io.open("stopped", "w") g:write("1") g:close()
LUA
"${A[@]}" exec wait.lua >"$WORK/out" 2>"$WORK/err" &
pid=$!
for _ in $(seq 300); do [ -f "$WORK/w/ready" ] && break; sleep 0.1; done
start=$(date +%s)
kill -TERM $pid
wait $pid
status=$?
elapsed=$(( $(date +%s) - start ))
check "SIGTERM: status $status, ${elapsed}s, stopped file: $(ls "$WORK/w")" [ $status -eq 0 -a -f "$WORK/w/stopped" -a $elapsed -lt 10 ]

# SIGHUP reloads the configuration; a broken file keeps the one in force.
cp "$SRC/examples/default.xml" "$WORK/agent.xml"
cat >"$WORK/reload.lua" <<'LUA'
dom:ConditionRegister("app.configUpdated")
local f = io.open("ready", "w") f:write("1") f:close()
local raised, count = dom:ConditionWait("app.configUpdated", 0, 60000)
local g = io.open("reloaded", "w") g:write(tostring(count)) g:close()
LUA
rm -f "$WORK/w/ready"
"$AGENT" --workdir "$WORK/w" --config "$WORK/agent.xml" exec reload.lua >"$WORK/out" 2>"$WORK/err" &
pid=$!
for _ in $(seq 300); do [ -f "$WORK/w/ready" ] && break; sleep 0.1; done
printf '<SecurityConfiguration>\n<broken\n' >"$WORK/agent.xml"
kill -HUP $pid
for _ in $(seq 50); do grep -q "not reloaded" "$WORK/w/kvo-agent.log" 2>/dev/null && break; sleep 0.1; done
expect_text "$WORK/w/kvo-agent.log" "agent.xml does not parse" "failed reload is logged with the file"
check "a broken file does not count as an update" [ ! -f "$WORK/w/reloaded" ]
cp "$SRC/examples/default.xml" "$WORK/agent.xml"
kill -HUP $pid
wait $pid
status=$?
check "SIGHUP reload: status $status, reloaded=$(cat "$WORK/w/reloaded" 2>/dev/null)" [ $status -eq 0 -a "$(cat "$WORK/w/reloaded" 2>/dev/null)" = 1 ]

finish
