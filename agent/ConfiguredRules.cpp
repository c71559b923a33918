#include "agent/ConfiguredRules.h"

#include <lua.hpp>

#include "core/IdNameObject.h"
#include "core/XMLObjectList.h"

namespace KvoAgent {

namespace {

// Only what names a rule; the rest of the element is the plug-in's to read.
class RuleName : public KvoCore::CIdNameObject {
public:
    RuleName() { AddAttribute("identifier", &identifier); }
    wxString GetElementName() const override { return "IntegrityRule"; }
    wxString identifier;
};

class RuleNames : public KvoCore::XMLObjectList {
public:
    wxString GetElementName() const override { return "IntegrityRules"; }
    wxString ChildElementName() const override { return "IntegrityRule"; }
    XMLObject* CreateListElement() override { return new RuleName; }
};

}  // namespace

CConfiguredRules::CConfiguredRules(const KvoCore::CDom& dom) {
    RuleNames rules;
    if (!dom.ConfigGetXml("/SecurityConfiguration/IntegrityRules", rules)) return;
    for (const KvoCore::XMLObject* member : rules.Children()) {
        const RuleName& rule = static_cast<const RuleName&>(*member);
        m_names[rule.GetId()] = rule.identifier.empty() ? rule.GetName() : rule.identifier + " - " + rule.GetName();
    }
}

void CConfiguredRules::PushLua(lua_State* L) const {
    lua_createtable(L, 0, static_cast<int>(m_names.size()));
    for (const auto& rule : m_names) {
        const std::string name(rule.second.utf8_str());
        lua_pushlstring(L, name.data(), name.size());
        lua_rawseti(L, -2, static_cast<int>(rule.first));
    }
}

}  // namespace KvoAgent
