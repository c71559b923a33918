#include "agent/EntityListing.h"

#include <memory>
#include <string>

#include <cjson/cJSON.h>

#include "agent/ChangeReport.h"
#include "agent/LuaField.h"
#include "agent/Utf8.h"

namespace KvoAgent {

CEntityListing::CEntityListing(lua_State* L, int index) {
    if (!lua_istable(L, index)) return;
    const int count = static_cast<int>(lua_rawlen(L, index));
    for (int i = 1; i <= count; ++i) {
        lua_rawgeti(L, index, i);
        if (lua_istable(L, -1)) m_entities.push_back(ReadEntity(L, lua_gettop(L)));
        lua_pop(L, 1);
    }
}

// The fields are those of the plug-in's Entity objects.
CEntityListing::Entity CEntityListing::ReadEntity(lua_State* L, int index) {
    Entity entity;
    entity.id = LuaNumberField(L, index, "id");
    entity.type = LuaTextField(L, index, "type");
    entity.ruleId = LuaNumberField(L, index, "integrityRuleId");
    entity.ruleName = LuaTextField(L, index, "ruleName");
    entity.key = LuaTextField(L, index, "key");
    entity.fastHash = LuaTextField(L, index, "fastHash");
    ReadAttributes(L, index, entity);
    return entity;
}

void CEntityListing::ReadAttributes(lua_State* L, int index, Entity& entity) {
    lua_getfield(L, index, "Attributes");
    const int count = lua_istable(L, -1) ? static_cast<int>(lua_rawlen(L, -1)) : 0;
    for (int i = 1; i <= count; ++i) {
        lua_rawgeti(L, -1, i);
        if (lua_istable(L, -1)) {
            const int attribute = lua_gettop(L);
            entity.attributes.push_back({LuaTextField(L, attribute, "name"), LuaTextField(L, attribute, "value"),
                                         LuaTextField(L, attribute, "friendlyValue")});
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
}

void CEntityListing::PrintText(FILE* out, long long after) const {
    for (const Entity& entity : m_entities) {
        fprintf(out, "%lld %s [%s] %s\n", entity.id, Narrow(entity.type).c_str(), Narrow(entity.ruleName).c_str(),
                Narrow(entity.key).c_str());
        for (const Attribute& attribute : entity.attributes) {
            const std::string friendly = attribute.friendly.empty() ? "" : " (" + Narrow(attribute.friendly) + ")";
            fprintf(out, "    %s: %s%s\n", Narrow(attribute.name).c_str(),
                    CChangeReport::ValueText(attribute.name, attribute.value).c_str(), friendly.c_str());
        }
    }
    if (m_entities.empty()) fprintf(out, "no entities after entity %lld\n", after);
}

void CEntityListing::PrintJson(FILE* out) const {
    for (const Entity& entity : m_entities) {
        std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_CreateObject(), cJSON_Delete);
        cJSON_AddNumberToObject(root.get(), "entityId", static_cast<double>(entity.id));
        cJSON_AddStringToObject(root.get(), "entityType", Narrow(entity.type).c_str());
        cJSON_AddNumberToObject(root.get(), "integrityRuleId", static_cast<double>(entity.ruleId));
        cJSON_AddStringToObject(root.get(), "rule", Narrow(entity.ruleName).c_str());
        cJSON_AddStringToObject(root.get(), "key", Narrow(entity.key).c_str());
        cJSON_AddStringToObject(root.get(), "fastHash", Narrow(entity.fastHash).c_str());
        cJSON* attributes = cJSON_AddObjectToObject(root.get(), "attributes");
        for (const Attribute& attribute : entity.attributes)
            cJSON_AddStringToObject(attributes, Narrow(attribute.name).c_str(), Narrow(attribute.value).c_str());
        std::unique_ptr<char, void (*)(void*)> text(cJSON_PrintUnformatted(root.get()), free);
        if (text) fprintf(out, "%s\n", text.get());
    }
}

}  // namespace KvoAgent
