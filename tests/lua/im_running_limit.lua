-- How many scanners may run at once, as the control thread reports it when it
-- is constructed: CPUs x "zel.im.SystemIntegrity.ThreadsPerCpu", else 1.
-- Each case runs a fresh agent so that its construction trace can be read.
local t = require "testlib"

local agent = dom:Get("kvo.lua.cpath"):gsub("/lib/%?%.so$", "/bin/kvo-agent")
local dir = dom:Get("lua.dir")
local cpus = tonumber(io.popen("getconf _NPROCESSORS_ONLN"):read("*l"))
t.check(cpus and cpus >= 1, "CPU count known")

local function quote(text) return "'" .. text:gsub("'", "'\\''") .. "'" end

local function constructionTrace(name, settings)
  local work = dom:GetWorkdir() .. "/" .. name
  local command = { quote(agent), "--workdir", quote(work), "--config", quote(dir .. "/../../examples/default.xml"),
                    "--trace", "zel.im.ImThread" }
  for _, setting in ipairs(settings) do
    command[#command + 1] = "--set"
    command[#command + 1] = quote(setting)
  end
  command[#command + 1] = "exec"
  command[#command + 1] = quote(dir .. "/im_new_thread.lua")
  command[#command + 1] = "2>/dev/null"
  local ok = os.execute(table.concat(command, " "))
  t.check(ok, name .. ": the agent ran")
  local log = io.open(work .. "/kvo-agent.log")
  local text = log and log:read("*a") or ""
  if log then log:close() end
  return text
end

local cases = {
  { "absent", {}, 1 },
  { "two per CPU", { "zel.im.SystemIntegrity.ThreadsPerCpu=2" }, 2 * cpus },
  { "one per CPU", { "zel.im.SystemIntegrity.ThreadsPerCpu=1" }, cpus },
  { "zero", { "zel.im.SystemIntegrity.ThreadsPerCpu=0" }, 1 },
  { "not an integer", { "zel.im.SystemIntegrity.ThreadsPerCpu=many" }, 1 },
}
for i, case in ipairs(cases) do
  local name, settings, limit = case[1], case[2], case[3]
  local log = constructionTrace("case" .. i, settings)
  t.check(log:find("CSystemIntegrityThread()", 1, true), name .. ": construction traced")
  local traced = log:match("IM ScannersRunningLimit is (%-?%d+)")
  t.equal(limit, tonumber(traced), name .. ": running limit")
end

t.finish()
