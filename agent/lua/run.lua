-- The agent's integrity monitoring, run by `kvo-agent run` on an agent thread
-- of its own: the plug-in's control thread borrows this thread until the
-- agent stops. The only argument is the directory of the agent's scripts.
local scriptDir = ...

require "im"

-- Reports what the control thread does; started first so that it sees it all.
local activity = dom:StartThread(scriptDir .. "/activity.lua")
-- The real-time engine's loop. The control loop reads once, at its start,
-- whether real-time notifications come, so it starts after the loop decided.
dom:ConditionRegister("kvo.realtime.decided")
local realtime = dom:StartThread(scriptDir .. "/realtime.lua")
repeat
  local decided = dom:ConditionWait("kvo.realtime.decided", 0, 200)
until decided or not realtime:IsRunning() or dom:ShouldExit(0)

local control = SLB.im.ImThread()
-- Does nothing unless a virtual-machine migration left its marks.
control:HandleVmotionStartup()
dom:Log("info", "integrity monitoring started")
control:main()
dom:Log("info", "integrity monitoring stopped")

for name, thread in pairs({activity = activity, ["real-time loop"] = realtime}) do
  thread:RequestExit()
  local ok, err = thread:Join()
  if not ok then dom:Log("warning", "the " .. name .. " ended with an error: " .. tostring(err)) end
end
