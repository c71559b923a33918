// XMLObjectList: a collection of XMLObjects of one kind; owns its members.
//
// Wrapped, the list is an element of its own (<Entitys><Entity/>...</Entitys>);
// inline, its members stand directly under the owner's element. Subclasses name
// the list (GetElementName), its members (ChildElementName) and create a member
// (CreateListElement). SQL operations apply to every member.
#pragma once

#include <vector>

#include "core/XMLObject.h"

namespace KvoCore {

class XMLObjectList : public XMLObject {
public:
    // first: the list starts out as the first of a chain (kept for callers; no
    // behaviour depends on it here); isInline: members stand unwrapped under the owner.
    explicit XMLObjectList(bool first = false, bool isInline = false);
    ~XMLObjectList() override;

    virtual wxString ChildElementName() const = 0;
    virtual XMLObject* CreateListElement() = 0;

    bool IsCollection() const override { return true; }
    bool IsInline() const { return m_inline; }
    void EnumChildObjects(const std::function<bool(const XMLObject&)>& fn) const override;
    bool HasChildElements() const override;
    void PrintChildElements(wxTextOutputStream& out, unsigned int indent) const override;
    void SetToDefaults() override;
    // Pushes an array of the members' tables.
    void toLua(lua_State* L) const override;
    // The same array, each member deleted once it is pushed, so that a long
    // list is never held twice; the list is left empty.
    void MoveToLua(lua_State* L) override;
    void ToXML(wxTextOutputStream& out, unsigned int indent = 0) const override;
    using XMLObject::ToXML;
    bool ElementNameMatches(const wxString& name) const override;
    XMLObject* FindChildElement(const wxString& name) override;
    void DeleteChildren() override;

    // Whole-list SQL: every member in order, each statement prepared once per
    // distinct SQL text; stops at the first failure. A null table means each
    // member's own table.
    bool SQLDelete(wxSQLite3Database& db, const wxChar* table = nullptr) override;
    bool SQLInsert(wxSQLite3Database& db, const wxChar* table = nullptr) override;
    bool SQLUpdate(wxSQLite3Database& db, const wxChar* table = nullptr) override;
    // Appends one member per row of "SELECT * FROM [table]" (null: the member
    // element name + "s"), or per remaining row of a result set (the current row
    // included when the caller has already moved onto one). Existing members stay.
    bool SQLLoad(wxSQLite3Database& db, const wxChar* table = nullptr) override;
    bool SQLLoad(wxSQLite3ResultSet& rows) override;
    using XMLObject::SQLDelete;
    using XMLObject::SQLInsert;
    using XMLObject::SQLUpdate;

    // Takes ownership.
    void Append(XMLObject* member);
    // Deletes the member at index; the members after it move up.
    void RemoveAt(size_t index);
    const std::vector<XMLObject*>& Children() const { return m_members; }
    size_t size() const { return m_members.size(); }
    bool empty() const { return m_members.empty(); }

private:
    std::vector<XMLObject*> m_members;
    bool m_first;
    bool m_inline;
};

}  // namespace KvoCore
