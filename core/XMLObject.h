// XMLObject: base of every rule object, report object and database record.
//
// A class declares its fields in its constructor as named attributes bound to
// its own members (AddAttribute) and registers child objects and lists
// (AddChild). From that registration the base derives XML in and out, Lua
// tables and SQL rows. Registration order is the column order of SQL and the
// attribute order of XML.
//
// Every attribute carries a NULL mark. An object built by default holds its
// attributes' defaults (registration assigns the default to the member), not
// NULL; a record class calls UseNullDefaults() so that members it never sets are
// written as SQL NULL. Setting an attribute through parsing (XML) or loading a
// non-NULL column clears the mark; code that assigns a member directly clears
// it with SetAttributeNull(&member, false). NULL
// attributes are left out of XML and Lua output, and so are empty strings and
// blobs from XML unless registered with StringAlwaysPrinted.
//
// XML text: two blanks per level; attribute values escape & < > " and control
// characters as &#xN;. XML 1.0 has no room for controls other than tab, line
// feed and carriage return, so a value holding one prints but does not parse back.
//
// A plain child object is printed when it was parsed, has a printable attribute
// or has child elements of its own; a wrapped list when it has members or was
// parsed; an inline list prints its members only. So an optional child element
// that was absent stays absent when the object is printed back.
//
// Blob members are given new buffers, never changed in place: wxMemoryBuffer
// copies share their bytes.
//
// Children are not owned: they are members of the derived object. Objects are
// not copyable. Not thread-safe: an object belongs to one thread at a time.
#pragma once

#include <functional>
#include <vector>

#include <wx/buffer.h>
#include <wx/string.h>

#include "core/AttributeName.h"

class wxOutputStream;
class wxTextOutputStream;
class wxXmlNode;
class wxSQLite3Database;
class wxSQLite3Statement;
class wxSQLite3ResultSet;
struct lua_State;

namespace KvoCore {

class XMLObject {
public:
    enum class AttributeType : unsigned char { Bool, Int, Int64, String, Blob };

    // Flag of string attributes: printed in XML even when empty.
    static const int StringAlwaysPrinted = 1;

    // One registered attribute; a view handed to EnumAttributes. Every record
    // holds one per column (a query's list holds thousands of records), so the
    // small members share the last word.
    struct Attribute {
        CAttributeName name;
        void* member;
        long long defaultNumber;  // bool, int and int64 defaults
        AttributeType type;
        bool isKey;
        unsigned char flag;  // string flag
        bool isNull;
        bool parsed;  // set from XML
        // The value as XML/SQL text ("true"/"false", decimal, hex for blobs).
        wxString ToText() const;
    };

    XMLObject();
    virtual ~XMLObject();
    XMLObject(const XMLObject&) = delete;
    XMLObject& operator=(const XMLObject&) = delete;

    // --- Virtual slots (order matters to subclasses that override them) ---
    virtual void AddChild(XMLObject* child);
    // Calls fn for each attribute in registration order; stops when fn returns false.
    virtual void EnumAttributes(const std::function<bool(const Attribute&)>& fn) const;
    // Calls fn for each child object (list members for a list); stops when fn returns false.
    virtual void EnumChildObjects(const std::function<bool(const XMLObject&)>& fn) const;
    virtual wxString GetElementName() const = 0;
    virtual bool HasChildElements() const;
    virtual bool IsCollection() const { return false; }
    // Writes " name=\"value\"" for every printable attribute.
    virtual void PrintAttributes(wxTextOutputStream& out) const;
    virtual void PrintChildElements(wxTextOutputStream& out, unsigned int indent) const;
    // Restores every attribute's default and NULL mark, the parsed flags, and the
    // children's defaults; a list also drops its members.
    virtual void SetToDefaults();
    // Pushes one table: attribute name -> value (NULL attributes left out; bool as
    // boolean, numbers as Lua numbers, strings as UTF-8, blobs as lower-case hex),
    // each child object under its element name as a table, each child list as an
    // array of its members' tables: a wrapped list under its element name, an
    // inline list under its members' element name + "s" (the name its members
    // show in XML, as in "Tag" -> "Tags").
    virtual void toLua(lua_State* L) const;
    // The same table for an object the caller is about to delete: a list
    // frees its members as it goes (XMLObjectList).
    virtual void MoveToLua(lua_State* L) { toLua(L); }
    virtual void ToXML(wxOutputStream& out, unsigned int indent = 0) const;
    virtual void ToXML(wxTextOutputStream& out, unsigned int indent = 0) const;

    // SQL text; a null table means GetElementName() + "s".
    virtual wxString GetSQLDeleteStatement(const wxChar* table = nullptr) const;
    virtual wxString GetSQLInsertStatement(const wxChar* table = nullptr) const;
    virtual wxString GetSQLLoadStatement(const wxChar* table = nullptr) const;
    virtual wxString GetSQLUpdateStatement(const wxChar* table = nullptr) const;
    // Row operations; database failures arrive as wxSQLite3Exception.
    // Delete and update address the row by the key attribute.
    virtual bool SQLDelete(wxSQLite3Database& db, const wxChar* table = nullptr);
    virtual bool SQLDelete(wxSQLite3Database& db, wxSQLite3Statement& statement);
    // Inserts one row and stores the assigned id in the key attribute; a key that
    // is not NULL is inserted with its value. The statement form binds the
    // attributes in registration order (prepare GetSQLInsertStatement once).
    virtual bool SQLInsert(wxSQLite3Database& db, const wxChar* table = nullptr);
    virtual bool SQLInsert(wxSQLite3Database& db, wxSQLite3Statement& statement);
    // Update and delete are true when a row was affected; false when no row has
    // the key, or the class has no key attribute.
    // Loads the row whose key equals the key attribute; false when there is none.
    virtual bool SQLLoad(wxSQLite3Database& db, const wxChar* table = nullptr);
    // Fills each attribute from the same-named column of the current row (the
    // caller has moved onto it); attributes without a column keep their values.
    // A NULL column resets the member to its default and sets the NULL mark.
    virtual bool SQLLoad(wxSQLite3ResultSet& row);
    // The column of each attribute (registration order, -1 for none) in rows
    // of row's statement. A caller that loads many rows of one statement maps
    // once and loads with the map: naming the columns costs more than a row.
    std::vector<int> SQLColumnMap(wxSQLite3ResultSet& row) const;
    // SQLLoad(row) with the columns found by SQLColumnMap on the same statement.
    bool SQLLoad(wxSQLite3ResultSet& row, const std::vector<int>& columns);
    virtual bool SQLUpdate(wxSQLite3Database& db, const wxChar* table = nullptr);
    virtual bool SQLUpdate(wxSQLite3Database& db, wxSQLite3Statement& statement);

    virtual void BeforePrint() const {}
    virtual void DeleteChildren() {}
    virtual bool ElementNameMatches(const wxString& name) const;
    // Called after all attributes of an element were set, before its children.
    virtual void EndAttributes() {}
    // Called when the object has been filled from XML or from a row.
    virtual void EndElement() {}
    // The object that takes a child element of this name, or null. A wrapped
    // list answers for its own element name; an inline list creates and
    // appends a member for its members' element name.
    virtual XMLObject* FindChildElement(const wxString& name);
    virtual void OnUnhandledAttribute(const wxString& name, const wxString& value);
    virtual void OnUnhandledChildElement(const wxString& name);
    // Sets a registered attribute from text, clears its NULL mark and marks it
    // parsed; false, leaving it unchanged, when the name is not registered or the
    // text does not parse for its type (bool: true/false/1/0 in any case;
    // numbers: decimal; blob: hex of even length).
    virtual bool SetAttribute(const wxString& name, const wxString& value);

    // --- Non-virtual operations ---
    // Parses an element into this object (values not in the element are kept).
    // False, with the reason in error, when the element's name does not match or
    // a value does not parse. Unregistered attributes and child elements go to
    // the OnUnhandled* hooks, whose defaults ignore them.
    bool FromXML(const wxXmlNode* element, wxString* error = nullptr);
    // Parses XML text whose root element is this object's element; a text that
    // is not well-formed gives the parser's reason and line.
    bool FromXML(const wxString& xmlText, wxString* error = nullptr);
    // The object as XML text, each level indented by two blanks.
    wxString toString(unsigned int indent = 0) const;

    void SetAttributeNull(const void* member, bool isNull);
    bool IsAttributeNull(const void* member) const;
    bool AttributeWasParsed(const void* member) const;
    // True when the object itself was filled from an XML element.
    bool WasParsed() const { return m_parsed; }
    wxString GetAttributeName(const void* member) const;
    const Attribute* FindAttribute(const wxString& name) const;
    const Attribute* GetKeyAttribute() const;
    // True when ToXML of the owner prints this child (see the header comment).
    bool IsPrintedAsChild() const;

protected:
    // For records made by the thousand: the list is sized once.
    void ReserveAttributes(size_t count);
    void AddAttribute(const CAttributeName& name, bool* member, bool defaultValue);
    void AddAttribute(const CAttributeName& name, int* member, int defaultValue = 0, bool isKey = false);
    void AddAttribute(const CAttributeName& name, long long* member, long long defaultValue, bool isKey);
    void AddAttribute(const CAttributeName& name, wxString* member, int flag = 0);
    void AddAttribute(const CAttributeName& name, wxMemoryBuffer* member);
    // Renames a registered attribute (found by its member) and gives it a new
    // default and key flag, keeping its position.
    void ReplaceAttribute(const wxString& oldName, const CAttributeName& newName, void* member,
                          long long defaultValue, bool isKey);
    // Marks every attribute NULL now and every attribute registered later; for
    // record classes, whose unset members are SQL NULL.
    void UseNullDefaults();

    static wxString Indent(unsigned int indent);
    static wxString EscapeXml(const wxString& text);

    std::vector<Attribute> m_attributes;
    std::vector<XMLObject*> m_children;

private:
    friend class XMLObjectList;
    Attribute* FindAttributeByMember(const void* member);
    const Attribute* FindAttributeByMember(const void* member) const;
    void Register(Attribute attribute);
    void ResetAttribute(Attribute& attribute);
    bool ParseElement(const wxXmlNode* element, wxString* error);
    void BindAttribute(wxSQLite3Statement& statement, int index, const Attribute& attribute) const;
    void LoadColumn(wxSQLite3ResultSet& row, int column, Attribute& attribute);
    Attribute* KeyAttribute();

    bool m_nullByDefault = false;
    bool m_parsed = false;
};

}  // namespace KvoCore
