-- Helper of conditions.lua: runs on an agent thread and raises the condition once.
dom:ShouldExit(50)
dom:ConditionRaise("lua.cond")
