#include "core/XMLObjectList.h"

#include <lua.hpp>
#include <wx/txtstrm.h>
#include <wx/wxsqlite3.h>

namespace KvoCore {

XMLObjectList::XMLObjectList(bool first, bool isInline) : m_first(first), m_inline(isInline) {}

XMLObjectList::~XMLObjectList() { DeleteChildren(); }

void XMLObjectList::Append(XMLObject* member) {
    if (member != nullptr) m_members.push_back(member);
}

void XMLObjectList::RemoveAt(size_t index) {
    delete m_members.at(index);
    m_members.erase(m_members.begin() + static_cast<std::ptrdiff_t>(index));
}

void XMLObjectList::DeleteChildren() {
    for (XMLObject* member : m_members) delete member;
    m_members.clear();
}

void XMLObjectList::SetToDefaults() {
    XMLObject::SetToDefaults();
    DeleteChildren();
}

void XMLObjectList::EnumChildObjects(const std::function<bool(const XMLObject&)>& fn) const {
    for (const XMLObject* member : m_members)
        if (!fn(*member)) return;
}

bool XMLObjectList::HasChildElements() const { return !m_members.empty(); }

void XMLObjectList::PrintChildElements(wxTextOutputStream& out, unsigned int indent) const {
    for (const XMLObject* member : m_members) member->ToXML(out, indent);
}

void XMLObjectList::ToXML(wxTextOutputStream& out, unsigned int indent) const {
    if (!m_inline) {
        XMLObject::ToXML(out, indent);
        return;
    }
    BeforePrint();
    PrintChildElements(out, indent);
}

namespace {

// An array of the members' tables; release deletes each member once pushed
// (the caller then clears the list).
void PushMembers(lua_State* L, const std::vector<XMLObject*>& members, bool release) {
    luaL_checkstack(L, 2, "XMLObjectList::toLua");
    lua_createtable(L, static_cast<int>(members.size()), 0);
    int index = 0;
    for (XMLObject* member : members) {
        member->toLua(L);
        lua_rawseti(L, -2, ++index);
        if (release) delete member;
    }
}

}  // namespace

void XMLObjectList::toLua(lua_State* L) const { PushMembers(L, m_members, false); }

void XMLObjectList::MoveToLua(lua_State* L) {
    PushMembers(L, m_members, true);
    m_members.clear();
}

bool XMLObjectList::ElementNameMatches(const wxString& name) const {
    return name == (m_inline ? ChildElementName() : GetElementName());
}

XMLObject* XMLObjectList::FindChildElement(const wxString& name) {
    if (name == ChildElementName()) {
        XMLObject* member = CreateListElement();
        Append(member);
        return member;
    }
    return XMLObject::FindChildElement(name);
}

namespace {

// Runs one statement kind over every member, preparing it again only when a
// member's SQL text differs from the previous one (lists are mostly of one class).
template <typename TextOf, typename Run>
bool ForEachMember(wxSQLite3Database& db, const std::vector<XMLObject*>& members, TextOf textOf,
                   Run run) {
    wxString preparedText;
    wxSQLite3Statement statement;
    for (XMLObject* member : members) {
        const wxString text = textOf(*member);
        if (text.empty()) return false;
        if (text != preparedText) {
            statement = db.PrepareStatement(text);
            preparedText = text;
        }
        if (!run(*member, statement)) return false;
    }
    return true;
}

}  // namespace

bool XMLObjectList::SQLInsert(wxSQLite3Database& db, const wxChar* table) {
    return ForEachMember(
        db, m_members, [table](const XMLObject& m) { return m.GetSQLInsertStatement(table); },
        [&db](XMLObject& m, wxSQLite3Statement& s) { return m.SQLInsert(db, s); });
}

bool XMLObjectList::SQLUpdate(wxSQLite3Database& db, const wxChar* table) {
    return ForEachMember(
        db, m_members, [table](const XMLObject& m) { return m.GetSQLUpdateStatement(table); },
        [&db](XMLObject& m, wxSQLite3Statement& s) { return m.SQLUpdate(db, s); });
}

bool XMLObjectList::SQLDelete(wxSQLite3Database& db, const wxChar* table) {
    return ForEachMember(
        db, m_members, [table](const XMLObject& m) { return m.GetSQLDeleteStatement(table); },
        [&db](XMLObject& m, wxSQLite3Statement& s) { return m.SQLDelete(db, s); });
}

bool XMLObjectList::SQLLoad(wxSQLite3Database& db, const wxChar* table) {
    const wxString name = table != nullptr ? wxString(table) : ChildElementName() + wxT("s");
    wxSQLite3ResultSet rows = db.ExecuteQuery(wxT("SELECT * FROM [") + name + wxT("];"));
    return SQLLoad(rows);
}

bool XMLObjectList::SQLLoad(wxSQLite3ResultSet& rows) {
    bool onRow = rows.CursorMoved() && !rows.Eof();
    if (!onRow) onRow = rows.NextRow();
    // Every element is of one class: the columns are matched to its members once.
    std::vector<int> columns;
    for (; onRow; onRow = rows.NextRow()) {
        XMLObject* member = CreateListElement();
        if (member == nullptr) return false;
        Append(member);
        if (columns.empty()) columns = member->SQLColumnMap(rows);
        // An element without members of its own (a list) loads its own way.
        const bool loaded = columns.empty() ? member->SQLLoad(rows) : member->SQLLoad(rows, columns);
        if (!loaded) return false;
    }
    return true;
}

}  // namespace KvoCore
