#!/usr/bin/env bash
# Runs one Lua test script in a fresh work directory: run-lua-test.bash AGENT SCRIPT [ARGS...]
set -u
agent=$1
script=$2
shift 2
dir=$(cd "$(dirname "$script")" && pwd)
work=$(mktemp -d /tmp/kvo-lua-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LUA_PATH="$dir/?.lua;;"
"$agent" --workdir "$work" --config "$dir/../../examples/default.xml" \
    --set lua.dir="$dir" --set lua.number=-12 --set lua.flag=true --set "lua.text=a=b c" \
    exec "$script" "$@"
