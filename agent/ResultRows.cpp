#include "agent/ResultRows.h"

#include <string>

#include "core/Utilities.h"

namespace KvoAgent {

namespace {

KvoCore::CSqliteDatabase& Db(lua_State* L) {
    return *static_cast<KvoCore::CSqliteDatabase*>(lua_touserdata(L, lua_upvalueindex(1)));
}

void SetText(lua_State* L, const char* field, const wxString& text) {
    const std::string bytes(text.utf8_str());
    lua_pushlstring(L, bytes.data(), bytes.size());
    lua_setfield(L, -2, field);
}

// Every column of the row, by name, as the plug-in's window query hands it out.
void PushRow(lua_State* L, wxSQLite3ResultSet& rows) {
    lua_newtable(L);
    for (int column = 0; column < rows.GetColumnCount(); ++column) {
        if (rows.IsNull(column)) continue;
        const std::string name(rows.GetColumnName(column).utf8_str());
        if (rows.GetColumnType(column) == WXSQLITE_INTEGER)
            lua_pushnumber(L, static_cast<lua_Number>(rows.GetInt64(column).GetValue()));
        else
            lua_pushstring(L, rows.GetString(column).utf8_str());
        lua_setfield(L, -2, name.c_str());
    }
}

// Timestamps are stored as the host gives them; results carry milliseconds since 1970.
wxString AttributeValue(const wxString& name, const wxString& value) {
    wxLongLong_t fileTime = 0;
    if ((name != "lastModified" && name != "created" && name != "lastAccessed") || !value.ToLongLong(&fileTime, 10))
        return value;
    return wxString::Format("%lld", KvoCore::FileTimestampToJTime(fileTime));
}

// SQL errors become Lua errors, which the host reports as the script's failure.
template <typename F>
int Guarded(lua_State* L, F read) {
    try {
        read();
        return 1;
    } catch (const wxSQLite3Exception& e) {
        lua_pushstring(L, e.GetMessage().utf8_str());
    }
    return lua_error(L);
}

}  // namespace

void CResultRows::Register(lua_State* L, KvoCore::CSqliteDatabase& db) {
    lua_pushlightuserdata(L, &db);
    lua_pushcclosure(L, ReadEvents, 1);
    lua_setglobal(L, "readEvents");
    lua_pushlightuserdata(L, &db);
    lua_pushcclosure(L, ReadEntities, 1);
    lua_setglobal(L, "readEntities");
}

int CResultRows::ReadEvents(lua_State* L) {
    const long long after = static_cast<long long>(luaL_checknumber(L, 1));
    const long long limit = static_cast<long long>(luaL_checknumber(L, 2));
    return Guarded(L, [&] {
        wxSQLite3ResultSet rows = Db(L).ExecuteQuery(wxString::Format(
            "SELECT * FROM [IntegrityEvents] WHERE [integrityEventId]>%lld ORDER BY 1 LIMIT %lld;", after, limit));
        lua_newtable(L);
        for (int i = 1; rows.NextRow(); ++i) {
            PushRow(L, rows);
            lua_rawseti(L, -2, i);
        }
    });
}

// Rows that scanners have only half written (no key, rule or hash yet) are
// skipped, as the plug-in's GetEntities skips them.
int CResultRows::ReadEntities(lua_State* L) {
    const long long after = static_cast<long long>(luaL_checknumber(L, 1));
    const long long limit = static_cast<long long>(luaL_checknumber(L, 2));
    return Guarded(L, [&] {
        KvoCore::CSqliteDatabase& db = Db(L);
        wxSQLite3ResultSet rows = db.ExecuteQuery(wxString::Format(
            "SELECT [entityId],[entityType],[integrityRuleId],[key],[attributeHash] FROM [Entitys] WHERE "
            "[entityId]>%lld AND [key]<>'' AND [integrityRuleId]<>0 AND LENGTH([attributeHash])>0 ORDER BY 1 "
            "LIMIT %lld;",
            after, limit));
        lua_newtable(L);
        for (int i = 1; rows.NextRow(); ++i) {
            lua_newtable(L);
            const long long id = rows.GetInt64(0).GetValue();
            lua_pushnumber(L, static_cast<lua_Number>(id));
            lua_setfield(L, -2, "id");
            SetText(L, "type", rows.GetString(1));
            lua_pushnumber(L, static_cast<lua_Number>(rows.GetInt64(2).GetValue()));
            lua_setfield(L, -2, "integrityRuleId");
            SetText(L, "key", rows.GetString(3));
            wxMemoryBuffer hash;
            rows.GetBlob(4, hash);
            SetText(L, "fastHash", KvoCore::toHexString(hash));
            PushAttributes(L, db, id);
            lua_rawseti(L, -2, i);
        }
    });
}

void CResultRows::PushAttributes(lua_State* L, KvoCore::CSqliteDatabase& db, long long entityId) {
    wxSQLite3ResultSet rows = db.ExecuteQuery(wxString::Format(
        "SELECT [name],[value],[friendlyValue] FROM [Attributes] WHERE [entityId]=%lld ORDER BY [name];", entityId));
    lua_newtable(L);
    for (int i = 1; rows.NextRow(); ++i) {
        lua_newtable(L);
        SetText(L, "name", rows.GetString(0));
        SetText(L, "value", AttributeValue(rows.GetString(0), rows.GetString(1)));
        SetText(L, "friendlyValue", rows.GetString(2));
        lua_rawseti(L, -2, i);
    }
    lua_setfield(L, -2, "Attributes");
}

}  // namespace KvoAgent
