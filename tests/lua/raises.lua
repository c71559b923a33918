-- Helper of agent_thread.lua: fails on purpose.
local function inner() error("deliberate failure") end
inner()
