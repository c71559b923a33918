// CEntityListing: recorded entities as `kvo-agent entities` prints them, for
// people (one line per entity, its attributes below) or as JSON lines. Built
// from the table that the plug-in's GetEntities returned; a plain value.
#pragma once

#include <cstdio>
#include <vector>

#include <lua.hpp>
#include <wx/string.h>

namespace KvoAgent {

class CEntityListing {
public:
    struct Attribute {
        wxString name;
        wxString value;
        wxString friendly;  // the name behind an id, the words behind a mode; may be empty
    };
    struct Entity {
        long long id = 0;
        wxString type;
        long long ruleId = 0;
        wxString ruleName;
        wxString key;
        wxString fastHash;
        std::vector<Attribute> attributes;
    };

    // index: the array of entity tables (anything else holds none).
    CEntityListing(lua_State* L, int index);

    const std::vector<Entity>& Entities() const { return m_entities; }
    // after: the id the listing started after, named when there is nothing.
    void PrintText(FILE* out, long long after) const;
    void PrintJson(FILE* out) const;

private:
    static Entity ReadEntity(lua_State* L, int index);
    static void ReadAttributes(lua_State* L, int index, Entity& entity);

    std::vector<Entity> m_entities;
};

}  // namespace KvoAgent
