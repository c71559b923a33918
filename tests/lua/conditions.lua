-- Conditions, stop handling and log lines from a script.
local t = require "testlib"

t.equal(nil, dom:ConditionQuery("lua.cond"), "unknown condition")
dom:ConditionRegister("lua.cond")
t.equal(0, dom:ConditionQuery("lua.cond"), "registered")
for _ = 1, 3 do dom:ConditionRaise("lua.cond") end
t.equal(3, dom:ConditionQuery("lua.cond"), "count grows with each raise")
t.equal("true|3", t.results(dom:ConditionWait("lua.cond", 2, 10000)), "already above the count seen: the count")
local raised = dom:ConditionWait("lua.cond", 3, 50)
t.check(not raised, "time-out without a raise")

-- A raise from an agent thread ends a wait in this one.
local th = dom:StartThread(arg0 or (dom:Get("lua.dir") .. "/raise_later.lua"))
t.equal("true|4", t.results(dom:ConditionWait("lua.cond", 3, 30000)), "raise from another thread, its count")
t.equal(true, (th:Join()), "thread ended cleanly")

dom:Log("info", "a log line from a script")
dom:Trace("lua.test", "a trace line nobody asked for")
t.raises("invalid option", function() dom:Log("loud", "x") end)

t.equal(false, (dom:ShouldExit(0)) or (dom:ShouldExit(10)), "running, also after a short wait")
dom:RequestStop()
local before = os.time()
t.equal(true, (dom:ShouldExit(60000)), "stop requested")
t.check(os.time() - before < 5, "the wait ended at once")
raised = dom:ConditionWait("lua.cond", 100, 60000)
t.check(not raised and os.time() - before < 5, "a stopped agent ends condition waits at once")

t.finish()
