// CConfiguredRules: the integrity rules' display names as the agent's
// configuration gives them (identifier " - " name, or the name alone), so that
// what a person reads names a rule as its author wrote it. Read once; a
// plain value afterwards.
#pragma once

#include <map>

#include <wx/string.h>

#include "core/Dom.h"

struct lua_State;

namespace KvoAgent {

class CConfiguredRules {
public:
    explicit CConfiguredRules(const KvoCore::CDom& dom);

    const std::map<long long, wxString>& Names() const { return m_names; }
    // Pushes a table rule id -> display name.
    void PushLua(lua_State* L) const;

private:
    std::map<long long, wxString> m_names;
};

}  // namespace KvoAgent
