-- `kvo-agent baseline`: the agent's integrity monitoring as `run` runs it,
-- asked first for a baseline scan. The host watches si.db and stops the agent
-- once that scan has completed. Arguments: the directory of the agent's
-- scripts, then "request", or "resume" when the agent is to finish a baseline
-- scan that an earlier run left unfinished: it requeues that scan by itself,
-- and a new request would start another right after it.
local scriptDir, mode = ...

if mode ~= "resume" then dom:Set("zel.im.bNeedRebuildBaseline", true) end
assert(loadfile(scriptDir .. "/run.lua"))(scriptDir)
