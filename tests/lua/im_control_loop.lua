-- The control loop as the agent runs it: agent/lua/run.lua on an agent thread
-- constructs SLB.im.ImThread and calls HandleVmotionStartup and main, here in
-- unit-test mode so that main returns after a few iterations.
local t = require "testlib"
require "im"
local dir = dom:Get("lua.dir")
local agentScripts = dir .. "/../../agent/lua"

local refusal = "Expected non-null object(SLB.im.ImThread) as first argument to method call"
t.raises(refusal, SLB.im.ImThread.main, nil)
t.raises(refusal, SLB.im.ImThread.HandleVmotionStartup, nil)

dom:Set("app.mode.unittest", true)
dom:Set("zel.im.unittest.iterations", 3)
local agent = dom:StartThread(agentScripts .. "/run.lua", agentScripts)
local ok, err = agent:Join()
t.check(ok, "run.lua ended without error: " .. tostring(err))

-- examples/default.xml holds two rules; storing them asks for a baseline.
local names = SLB.im.ImThread.GetRuleIdAndName()
t.equal("1002 - System configuration|1003 - System programs", t.results(names[1], names[2]), "both rules stored")
t.equal(1, dom:ConditionQuery("zel.im.configProcessed"), "one rule-processing pass")
t.check((dom:ConditionQuery("zel.im.scanInitiated") or 0) >= 1, "a scan was initiated")
t.equal("nil|nil", t.results(dom:Get("zel.im.bNeedRebuildBaseline"), dom:Get("zel.im.bVmotionProcessing")),
        "the baseline need was served, no migration was handled")

t.finish()
