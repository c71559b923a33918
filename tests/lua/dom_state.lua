-- The agent object's state store, reached from a script.
local t = require "testlib"

-- Defaults the host sets, and keys given with --set (see CMake: --set lua.number=-12 ...).
t.check(type(dom:Get("zel.im.dbPath")) == "string" and dom:Get("zel.im.dbPath"):match("/si%.db$"), "database path")
t.equal(true, dom:Get("zel.im.featureOn"), "feature on")
t.equal(false, dom:Get("zel.im.realtimeMode"), "no real-time engine")
t.equal(dom:GetWorkdir(), dom:Get("app.path.work"), "work path")
t.equal(-12, dom:Get("lua.number"), "--set integer")
t.equal(true, dom:Get("lua.flag"), "--set flag")
t.equal("a=b c", dom:Get("lua.text"), "--set text keeps everything after the first =")

-- Every kind of value round-trips, both call forms reach the same store.
local values = { true, false, 0, 42, -7, 2^40, "", "text", "with\0zero" }
for i, v in ipairs(values) do
  local key = "lua.value." .. i
  dom:Set(key, v)
  t.equal(v, dom:Get(key), "round trip of " .. tostring(v))
  t.equal(v, SLB.Dom.Get(dom, key), "static form of " .. tostring(v))
end
SLB.Dom.Set(dom, "lua.value.1", nil)
t.equal(nil, dom:Get("lua.value.1"), "nil clears")
dom:Set("lua.value.2")
t.equal(nil, dom:Get("lua.value.2"), "a missing value clears")
t.equal(nil, dom:Get("lua.never.set"), "unknown key")

-- What the store cannot hold is refused.
t.raises("integer expected", function() dom:Set("k", 1.5) end)
t.raises("light userdata expected", function() dom:Set("k", {}) end)
t.raises("light userdata expected", function() dom:Set("k", print) end)
t.raises("Expected non-null object(SLB.Dom) as first argument to method call", function() SLB.Dom.Get(nil, "k") end)
t.raises("Expected non-null object(SLB.Dom) as first argument to method call", function() SLB.Dom.Set("dom", "k", 1) end)

-- Arguments after the script name arrive as "...".
local a, b = ...
t.equal("first", a, "argument 1")
t.equal("second arg", b, "argument 2")

t.finish()
