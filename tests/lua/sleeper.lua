-- Helper of agent_thread.lua: counts wake-ups until asked to quit.
local name = ...
local wakeups = 0
dom:Set("sleeper.ready", true)
while true do
  local stop, awakened = dom:ShouldExit(60000)
  if stop or dom:Get("sleeper.quit") then break end
  if awakened then
    wakeups = wakeups + 1
    dom:Set("sleeper.wakeups", wakeups)
  end
end
dom:Set("sleeper.done." .. name, true)
