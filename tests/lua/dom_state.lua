-- The agent object's state store, reached from a script.
local t = require "testlib"

-- Defaults the host sets, and keys given with --set (see CMake: --set lua.number=-12 ...).
t.check(type(dom:Get("zel.im.dbPath")) == "string" and dom:Get("zel.im.dbPath"):match("/si%.db$"), "database path")
t.equal("true|false|true", t.results(dom:Get("zel.im.featureOn"), dom:Get("zel.im.realtimeMode"),
                                     dom:GetWorkdir() == dom:Get("app.path.work")), "feature on, no real-time engine, work path")
t.equal("-12|true|a=b c", t.results(dom:Get("lua.number"), dom:Get("lua.flag"), dom:Get("lua.text")),
        "--set integer, flag, text keeps everything after the first =")

-- Every kind of value round-trips, both call forms reach the same store.
local values = { true, false, 0, 42, -7, 2^40, "", "text", "with\0zero" }
for i, v in ipairs(values) do
  local key = "lua.value." .. i
  dom:Set(key, v)
  t.equal(v, dom:Get(key), "round trip of " .. tostring(v))
  t.equal(v, SLB.Dom.Get(dom, key), "static form of " .. tostring(v))
end
SLB.Dom.Set(dom, "lua.value.1", nil)
dom:Set("lua.value.2")
t.equal("nil|nil|nil", t.results(dom:Get("lua.value.1"), dom:Get("lua.value.2"), dom:Get("lua.never.set")),
        "nil and a missing value clear; unknown key")

-- What the store cannot hold is refused.
t.raises("integer expected", function() dom:Set("k", 1.5) end)
t.raises("light userdata expected", function() dom:Set("k", {}) end)
t.raises("Expected non-null object(SLB.Dom) as first argument to method call", function() SLB.Dom.Get(nil, "k") end)
t.raises("Expected non-null object(SLB.Dom) as first argument to method call", function() SLB.Dom.Set("dom", "k", 1) end)

-- Arguments after the script name arrive as "...".
t.equal("first|second arg", t.results(...), "arguments")

t.finish()
