-- Reports in the agent's log what the integrity control thread does. The
-- control thread tells the rest of the agent through conditions, so this
-- script follows their counts; every count starts at 0 with the agent.
require "im"

local function rulesInForce()
  local n = 0
  for _ in pairs(SLB.im.ImThread.GetRuleIdAndName()) do n = n + 1 end
  return n
end

local reports = {
  {condition = "zel.im.configProcessed",
   text = function() return string.format("integrity rules stored: %d rule(s) in force", rulesInForce()) end},
  {condition = "zel.im.scanInitiated", text = function() return "integrity scan initiated" end},
  {condition = "zel.im.scanCompleted", text = function() return "integrity scan completed" end},
}

local seen = {}
for _, report in ipairs(reports) do
  dom:ConditionRegister(report.condition)
  seen[report.condition] = 0
end

local function reportChanges()
  for _, report in ipairs(reports) do
    local count = dom:ConditionQuery(report.condition) or 0
    if count ~= seen[report.condition] then
      seen[report.condition] = count
      dom:Log("info", report.text())
    end
  end
end

-- Polled rather than waited on one by one: the three come in any order.
repeat reportChanges() until dom:ShouldExit(250)
-- What happened just before the stop.
reportChanges()
