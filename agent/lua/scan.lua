-- `kvo-agent baseline` and `check`: the agent's integrity monitoring as `run`
-- runs it, asked first for a scan. The host watches si.db and stops the agent
-- once that scan has completed. Arguments: the directory of the agent's
-- scripts; "request", or "resume" when the agent is to finish a scan that an
-- earlier run left unfinished (it requeues that scan by itself, and a new
-- request would start another right after it); the state key that asks for
-- the scan ("zel.im.bNeedRebuildBaseline", "zel.im.bNeedIncrementalScan").
local scriptDir, mode, needKey = ...

if mode ~= "resume" then dom:Set(needKey, true) end
-- One scan wants no real-time engine beside it unless asked for one.
if dom:Get("kvo.realtime") == nil then dom:Set("kvo.realtime", "off") end
assert(loadfile(scriptDir .. "/run.lua"))(scriptDir)
