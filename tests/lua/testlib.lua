-- A small test harness for agent scripts: checks count, failures are listed,
-- and the script raises at the end when any check failed.
local M = { passed = 0, failed = 0 }

local function record(ok, text)
  if ok then
    M.passed = M.passed + 1
  else
    M.failed = M.failed + 1
    local info = debug.getinfo(3, "Sl")
    print("FAIL " .. info.short_src .. ":" .. info.currentline .. ": " .. text)
  end
end

function M.check(condition, message) record(condition, tostring(message)) end

function M.equal(expected, actual, message)
  record(expected == actual, string.format("%s: expected %s, got %s", tostring(message), tostring(expected),
                                           tostring(actual)))
end

-- The call must raise an error whose text contains pattern (plain text).
function M.raises(pattern, fn, ...)
  local ok, err = pcall(fn, ...)
  record(not ok and string.find(tostring(err), pattern, 1, true),
         string.format("expected an error containing '%s', got %s", pattern, ok and "no error" or tostring(err)))
end

-- Waits (up to ms) until fn() is true, polling through the agent's own waits.
function M.eventually(fn, ms)
  local deadline = os.time() + math.ceil(ms / 1000)
  while os.time() <= deadline do
    if fn() then return true end
    dom:ShouldExit(20)
  end
  return fn()
end

-- "a|b|..." of every value given, nil included: compares whole results at once.
function M.results(...)
  local out = {}
  for i = 1, select("#", ...) do out[i] = tostring((select(i, ...))) end
  return table.concat(out, "|")
end

-- "a|b|..." of the named fields of tbl.
function M.pick(tbl, names)
  local out = {}
  for name in string.gmatch(names, "[^,]+") do out[#out + 1] = tostring(tbl[name]) end
  return table.concat(out, "|")
end

function M.finish()
  print(string.format("%d passed, %d failed", M.passed, M.failed))
  if M.failed > 0 then error(M.failed .. " check(s) failed", 0) end
end

return M
