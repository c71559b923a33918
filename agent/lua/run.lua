-- The agent's integrity monitoring, run by `kvo-agent run` on an agent thread
-- of its own: the plug-in's control thread borrows this thread until the
-- agent stops. The only argument is the directory of the agent's scripts.
local scriptDir = ...

require "im"

-- Reports what the control thread does; started first so that it sees it all.
local activity = dom:StartThread(scriptDir .. "/activity.lua")

local control = SLB.im.ImThread()
-- Does nothing unless a virtual-machine migration left its marks.
control:HandleVmotionStartup()
dom:Log("info", "integrity monitoring started")
control:main()
dom:Log("info", "integrity monitoring stopped")

activity:RequestExit()
local ok, err = activity:Join()
if not ok then dom:Log("warning", "the activity report ended with an error: " .. tostring(err)) end
