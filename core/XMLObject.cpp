#include "core/XMLObject.h"

#include <algorithm>
#include <limits>
#include <string>

#include <lua.hpp>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/sstream.h>
#include <wx/thread.h>
#include <wx/txtstrm.h>
#include <wx/wxsqlite3.h>
#include <wx/xml/xml.h>

#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "core/WxLogCapture.h"
#include "core/XMLObjectList.h"

namespace KvoCore {
namespace {

wxString HexOf(const wxMemoryBuffer& buffer) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* data = static_cast<const unsigned char*>(buffer.GetData());
    const size_t length = buffer.GetDataLen();
    std::string text(length * 2, '0');
    for (size_t i = 0; i < length; ++i) {
        text[2 * i] = digits[data[i] >> 4];
        text[2 * i + 1] = digits[data[i] & 0x0f];
    }
    return wxString::FromAscii(text.c_str());
}

int HexDigit(wxUniChar c) {
    const wxUniChar::value_type v = c.GetValue();
    if (v >= '0' && v <= '9') return static_cast<int>(v - '0');
    if (v >= 'a' && v <= 'f') return static_cast<int>(v - 'a' + 10);
    if (v >= 'A' && v <= 'F') return static_cast<int>(v - 'A' + 10);
    return -1;
}

// An empty buffer with the room of the given one (record classes size their
// digests); never zero, for AppendByte refuses a buffer without storage.
wxMemoryBuffer EmptyLike(const wxMemoryBuffer& buffer) {
    return wxMemoryBuffer(std::max<size_t>(buffer.GetBufSize(), 1));
}

// wxMemoryBuffer copies share their bytes, so a blob member is never changed in
// place (that would change every copy): it is given a new buffer instead.
bool ParseHex(const wxString& text, wxMemoryBuffer& buffer) {
    if (text.length() % 2 != 0) return false;
    wxMemoryBuffer parsed(std::max(text.length() / 2, buffer.GetBufSize()) + 1);
    for (size_t i = 0; i < text.length(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        parsed.AppendByte(static_cast<char>(high * 16 + low));
    }
    buffer = parsed;
    return true;
}

bool ParseInt64(const wxString& text, long long& value) {
    wxString trimmed = text;
    trimmed.Trim(true).Trim(false);
    wxLongLong_t parsed;
    if (trimmed.empty() || !trimmed.ToLongLong(&parsed, 10)) return false;
    value = parsed;
    return true;
}

bool ParseBool(const wxString& text, bool& value) {
    wxString trimmed = text;
    trimmed.Trim(true).Trim(false);
    if (trimmed == wxT("1") || trimmed.IsSameAs(wxT("true"), false)) {
        value = true;
        return true;
    }
    if (trimmed == wxT("0") || trimmed.IsSameAs(wxT("false"), false)) {
        value = false;
        return true;
    }
    return false;
}

wxString Bracketed(const wxString& name) { return wxT("[") + name + wxT("]"); }

}  // namespace

wxString XMLObject::Attribute::ToText() const {
    switch (type) {
        case AttributeType::Bool:
            return *static_cast<const bool*>(member) ? wxT("true") : wxT("false");
        case AttributeType::Int:
            return wxString::Format(wxT("%d"), *static_cast<const int*>(member));
        case AttributeType::Int64:
            return wxString::Format(wxT("%lld"), *static_cast<const long long*>(member));
        case AttributeType::String:
            return *static_cast<const wxString*>(member);
        case AttributeType::Blob:
            return HexOf(*static_cast<const wxMemoryBuffer*>(member));
    }
    return wxString();
}

XMLObject::XMLObject() = default;
XMLObject::~XMLObject() = default;

// --- Registration ---

void XMLObject::ReserveAttributes(size_t count) { m_attributes.reserve(count); }

static_assert(sizeof(XMLObject::Attribute) == 32, "one word each for name, member and default, one for the rest");

void XMLObject::Register(Attribute attribute) {
    m_attributes.push_back(std::move(attribute));
    ResetAttribute(m_attributes.back());
}

void XMLObject::AddAttribute(const CAttributeName& name, bool* member, bool defaultValue) {
    Register({name, member, defaultValue ? 1 : 0, AttributeType::Bool, false, 0, m_nullByDefault, false});
}

void XMLObject::AddAttribute(const CAttributeName& name, int* member, int defaultValue, bool isKey) {
    Register({name, member, defaultValue, AttributeType::Int, isKey, 0, m_nullByDefault, false});
}

void XMLObject::AddAttribute(const CAttributeName& name, long long* member, long long defaultValue,
                             bool isKey) {
    Register({name, member, defaultValue, AttributeType::Int64, isKey, 0, m_nullByDefault, false});
}

void XMLObject::AddAttribute(const CAttributeName& name, wxString* member, int flag) {
    Register({name, member, 0, AttributeType::String, false, static_cast<unsigned char>(flag), m_nullByDefault, false});
}

void XMLObject::AddAttribute(const CAttributeName& name, wxMemoryBuffer* member) {
    Register({name, member, 0, AttributeType::Blob, false, 0, m_nullByDefault, false});
}

void XMLObject::ReplaceAttribute(const wxString& oldName, const CAttributeName& newName, void* member,
                                 long long defaultValue, bool isKey) {
    Attribute* attribute = FindAttributeByMember(member);
    if (attribute == nullptr) {
        const Attribute* byName = FindAttribute(oldName);
        if (byName == nullptr) return;
        attribute = const_cast<Attribute*>(byName);
    }
    // One key per row: the renamed key replaces any earlier one.
    if (isKey)
        for (Attribute& other : m_attributes) other.isKey = false;
    attribute->name = newName;
    attribute->defaultNumber = defaultValue;
    attribute->isKey = isKey;
    const bool wasNull = attribute->isNull;
    ResetAttribute(*attribute);
    attribute->isNull = wasNull;
}

void XMLObject::UseNullDefaults() {
    m_nullByDefault = true;
    for (Attribute& attribute : m_attributes) attribute.isNull = true;
}

void XMLObject::AddChild(XMLObject* child) {
    if (child != nullptr) m_children.push_back(child);
}

void XMLObject::ResetAttribute(Attribute& attribute) {
    switch (attribute.type) {
        case AttributeType::Bool:
            *static_cast<bool*>(attribute.member) = attribute.defaultNumber != 0;
            break;
        case AttributeType::Int:
            *static_cast<int*>(attribute.member) = static_cast<int>(attribute.defaultNumber);
            break;
        case AttributeType::Int64:
            *static_cast<long long*>(attribute.member) = attribute.defaultNumber;
            break;
        case AttributeType::String:
            static_cast<wxString*>(attribute.member)->clear();
            break;
        case AttributeType::Blob: {
            wxMemoryBuffer& buffer = *static_cast<wxMemoryBuffer*>(attribute.member);
            if (!buffer.IsEmpty()) buffer = EmptyLike(buffer);
            break;
        }
    }
    attribute.isNull = m_nullByDefault;
    attribute.parsed = false;
}

void XMLObject::SetToDefaults() {
    for (Attribute& attribute : m_attributes) ResetAttribute(attribute);
    m_parsed = false;
    for (XMLObject* child : m_children) child->SetToDefaults();
}

// --- Lookup ---

void XMLObject::EnumAttributes(const std::function<bool(const Attribute&)>& fn) const {
    for (const Attribute& attribute : m_attributes)
        if (!fn(attribute)) return;
}

void XMLObject::EnumChildObjects(const std::function<bool(const XMLObject&)>& fn) const {
    for (const XMLObject* child : m_children)
        if (!fn(*child)) return;
}

XMLObject::Attribute* XMLObject::FindAttributeByMember(const void* member) {
    for (Attribute& attribute : m_attributes)
        if (attribute.member == member) return &attribute;
    return nullptr;
}

const XMLObject::Attribute* XMLObject::FindAttributeByMember(const void* member) const {
    for (const Attribute& attribute : m_attributes)
        if (attribute.member == member) return &attribute;
    return nullptr;
}

const XMLObject::Attribute* XMLObject::FindAttribute(const wxString& name) const {
    for (const Attribute& attribute : m_attributes)
        if (attribute.name == name) return &attribute;
    return nullptr;
}

const XMLObject::Attribute* XMLObject::GetKeyAttribute() const {
    for (const Attribute& attribute : m_attributes)
        if (attribute.isKey) return &attribute;
    return nullptr;
}

XMLObject::Attribute* XMLObject::KeyAttribute() {
    for (Attribute& attribute : m_attributes)
        if (attribute.isKey) return &attribute;
    return nullptr;
}

void XMLObject::SetAttributeNull(const void* member, bool isNull) {
    if (Attribute* attribute = FindAttributeByMember(member)) attribute->isNull = isNull;
}

bool XMLObject::IsAttributeNull(const void* member) const {
    const Attribute* attribute = FindAttributeByMember(member);
    return attribute != nullptr && attribute->isNull;
}

bool XMLObject::AttributeWasParsed(const void* member) const {
    const Attribute* attribute = FindAttributeByMember(member);
    return attribute != nullptr && attribute->parsed;
}

wxString XMLObject::GetAttributeName(const void* member) const {
    const Attribute* attribute = FindAttributeByMember(member);
    return attribute != nullptr ? attribute->name.Text() : wxString();
}

// --- XML in ---

bool XMLObject::SetAttribute(const wxString& name, const wxString& value) {
    Attribute* attribute = const_cast<Attribute*>(FindAttribute(name));
    if (attribute == nullptr) return false;
    switch (attribute->type) {
        case AttributeType::Bool: {
            bool parsed;
            if (!ParseBool(value, parsed)) return false;
            *static_cast<bool*>(attribute->member) = parsed;
            break;
        }
        case AttributeType::Int: {
            long long parsed;
            if (!ParseInt64(value, parsed) || parsed < std::numeric_limits<int>::min() ||
                parsed > std::numeric_limits<int>::max())
                return false;
            *static_cast<int*>(attribute->member) = static_cast<int>(parsed);
            break;
        }
        case AttributeType::Int64: {
            long long parsed;
            if (!ParseInt64(value, parsed)) return false;
            *static_cast<long long*>(attribute->member) = parsed;
            break;
        }
        case AttributeType::String:
            *static_cast<wxString*>(attribute->member) = value;
            break;
        case AttributeType::Blob:
            if (!ParseHex(value, *static_cast<wxMemoryBuffer*>(attribute->member))) return false;
            break;
    }
    attribute->isNull = false;
    attribute->parsed = true;
    return true;
}

bool XMLObject::ElementNameMatches(const wxString& name) const { return name == GetElementName(); }

XMLObject* XMLObject::FindChildElement(const wxString& name) {
    for (XMLObject* child : m_children) {
        const XMLObjectList* list = child->IsCollection() ? dynamic_cast<XMLObjectList*>(child) : nullptr;
        if (list != nullptr && list->IsInline()) {
            if (XMLObject* member = child->FindChildElement(name)) return member;
        } else if (child->ElementNameMatches(name)) {
            return child;
        }
    }
    return nullptr;
}

void XMLObject::OnUnhandledAttribute(const wxString&, const wxString&) {}

void XMLObject::OnUnhandledChildElement(const wxString&) {}

bool XMLObject::ParseElement(const wxXmlNode* element, wxString* error) {
    for (const wxXmlAttribute* xmlAttribute = element->GetAttributes(); xmlAttribute != nullptr;
         xmlAttribute = xmlAttribute->GetNext()) {
        const wxString& name = xmlAttribute->GetName();
        const wxString& value = xmlAttribute->GetValue();
        if (SetAttribute(name, value)) continue;
        if (FindAttribute(name) == nullptr) {
            OnUnhandledAttribute(name, value);
            continue;
        }
        if (error != nullptr) {
            *error = wxString::Format(wxT("element %s: attribute %s has an invalid value \"%s\""),
                                      element->GetName(), name, value);
            if (element->GetLineNumber() > 0)
                *error += wxString::Format(wxT(" (line %d)"), element->GetLineNumber());
        }
        return false;
    }
    EndAttributes();
    for (const wxXmlNode* child = element->GetChildren(); child != nullptr; child = child->GetNext()) {
        if (child->GetType() != wxXML_ELEMENT_NODE) continue;
        XMLObject* target = FindChildElement(child->GetName());
        if (target == nullptr)
            OnUnhandledChildElement(child->GetName());
        else if (!target->ParseElement(child, error))
            return false;
    }
    EndElement();
    m_parsed = true;
    return true;
}

bool XMLObject::FromXML(const wxXmlNode* element, wxString* error) {
    if (element == nullptr || !ElementNameMatches(element->GetName())) {
        if (error != nullptr)
            *error = wxString::Format(wxT("expected element %s, found %s"), GetElementName(),
                                      element != nullptr ? element->GetName() : wxString(wxT("none")));
        return false;
    }
    XMLObject* target = this;
    const XMLObjectList* list = IsCollection() ? dynamic_cast<const XMLObjectList*>(this) : nullptr;
    // An inline list has no element of its own: the element is one member.
    if (list != nullptr && list->IsInline()) {
        target = FindChildElement(element->GetName());
        if (target == nullptr) {
            if (error != nullptr)
                *error = wxString::Format(wxT("element %s: no member could be created"),
                                          element->GetName());
            return false;
        }
    }
    return target->ParseElement(element, error);
}

bool XMLObject::FromXML(const wxString& xmlText, wxString* error) {
    const wxScopedCharBuffer utf8 = xmlText.utf8_str();
    wxMemoryInputStream input(utf8.data(), utf8.length());
    wxXmlDocument document;
    bool loaded;
    wxString reason;
    {
        // wxXmlDocument says why and where a text does not parse only through wxLog.
        CWxLogCapture capture;
        loaded = document.Load(input, wxT("UTF-8"));
        reason = capture.Text();
    }
    if (!loaded || document.GetRoot() == nullptr) {
        if (error != nullptr)
            *error = reason.empty() ? wxString(wxT("XML does not parse")) : reason;
        return false;
    }
    return FromXML(document.GetRoot(), error);
}

// --- XML out ---

wxString XMLObject::Indent(unsigned int indent) { return wxString(wxT(' '), 2 * indent); }

wxString XMLObject::EscapeXml(const wxString& text) {
    wxString escaped;
    escaped.reserve(text.length() + 8);
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        const wxUniChar c = *it;
        switch (c.GetValue()) {
            case '&': escaped += wxT("&amp;"); break;
            case '<': escaped += wxT("&lt;"); break;
            case '>': escaped += wxT("&gt;"); break;
            case '"': escaped += wxT("&quot;"); break;
            default:
                if (c.GetValue() < 0x20 || c.GetValue() == 0x7f)
                    escaped += wxString::Format(wxT("&#x%X;"), static_cast<unsigned>(c.GetValue()));
                else
                    escaped += c;
        }
    }
    return escaped;
}

namespace {

bool IsPrintable(const XMLObject::Attribute& attribute) {
    if (attribute.isNull) return false;
    switch (attribute.type) {
        case XMLObject::AttributeType::String:
            return (attribute.flag & XMLObject::StringAlwaysPrinted) != 0 ||
                   !static_cast<const wxString*>(attribute.member)->empty();
        case XMLObject::AttributeType::Blob:
            return static_cast<const wxMemoryBuffer*>(attribute.member)->GetDataLen() > 0;
        default:
            return true;
    }
}

}  // namespace

void XMLObject::PrintAttributes(wxTextOutputStream& out) const {
    EnumAttributes([&out](const Attribute& attribute) {
        if (IsPrintable(attribute))
            out << wxT(' ') << attribute.name << wxT("=\"") << EscapeXml(attribute.ToText()) << wxT('"');
        return true;
    });
}

bool XMLObject::IsPrintedAsChild() const {
    if (const XMLObjectList* list = IsCollection() ? dynamic_cast<const XMLObjectList*>(this) : nullptr)
        return !list->empty() || (!list->IsInline() && m_parsed);
    if (m_parsed || HasChildElements()) return true;
    bool printable = false;
    EnumAttributes([&printable](const Attribute& attribute) {
        printable = IsPrintable(attribute);
        return !printable;
    });
    return printable;
}

bool XMLObject::HasChildElements() const {
    bool any = false;
    EnumChildObjects([&any](const XMLObject& child) {
        any = child.IsPrintedAsChild();
        return !any;
    });
    return any;
}

void XMLObject::PrintChildElements(wxTextOutputStream& out, unsigned int indent) const {
    EnumChildObjects([&out, indent](const XMLObject& child) {
        if (child.IsPrintedAsChild()) child.ToXML(out, indent);
        return true;
    });
}

void XMLObject::ToXML(wxTextOutputStream& out, unsigned int indent) const {
    BeforePrint();
    const wxString name = GetElementName();
    out << Indent(indent) << wxT('<') << name;
    PrintAttributes(out);
    if (HasChildElements()) {
        out << wxT(">\n");
        PrintChildElements(out, indent + 1);
        out << Indent(indent) << wxT("</") << name << wxT(">\n");
    } else {
        out << wxT("/>\n");
    }
}

void XMLObject::ToXML(wxOutputStream& out, unsigned int indent) const {
    wxTextOutputStream text(out, wxEOL_UNIX, wxConvUTF8);
    ToXML(text, indent);
    text.Flush();
}

wxString XMLObject::toString(unsigned int indent) const {
    wxString result;
    wxStringOutputStream stream(&result, wxConvUTF8);
    wxTextOutputStream text(stream, wxEOL_UNIX, wxConvUTF8);
    ToXML(text, indent);
    text.Flush();
    return result;
}

// --- Lua ---

void XMLObject::toLua(lua_State* L) const {
    luaL_checkstack(L, 4, "XMLObject::toLua");
    lua_newtable(L);
    EnumAttributes([L](const Attribute& attribute) {
        if (attribute.isNull) return true;
        switch (attribute.type) {
            case AttributeType::Bool:
                lua_pushboolean(L, *static_cast<const bool*>(attribute.member) ? 1 : 0);
                break;
            case AttributeType::Int:
                lua_pushnumber(L, static_cast<lua_Number>(*static_cast<const int*>(attribute.member)));
                break;
            case AttributeType::Int64:
                lua_pushnumber(L, static_cast<lua_Number>(*static_cast<const long long*>(attribute.member)));
                break;
            case AttributeType::String:
            case AttributeType::Blob: {
                // utf8_str() points into a cache of the string it is called on.
                const std::string utf8 = attribute.ToText().utf8_string();
                lua_pushlstring(L, utf8.data(), utf8.size());
                break;
            }
        }
        lua_setfield(L, -2, attribute.name.Text().utf8_str());
        return true;
    });
    EnumChildObjects([L](const XMLObject& child) {
        wxString key = child.GetElementName();
        if (const XMLObjectList* list = child.IsCollection() ? dynamic_cast<const XMLObjectList*>(&child) : nullptr)
            if (list->IsInline()) key = list->ChildElementName() + wxT("s");
        child.toLua(L);
        lua_setfield(L, -2, key.utf8_str());
        return true;
    });
}

// --- SQL ---

namespace {

wxString TableName(const XMLObject& object, const wxChar* table) {
    return Bracketed(table != nullptr ? wxString(table) : object.GetElementName() + wxT("s"));
}

}  // namespace

wxString XMLObject::GetSQLInsertStatement(const wxChar* table) const {
    wxString columns;
    wxString values;
    int index = 0;
    EnumAttributes([&](const Attribute& attribute) {
        if (index > 0) {
            columns += wxT(',');
            values += wxT(',');
        }
        ++index;
        columns += Bracketed(attribute.name);
        values += wxString::Format(wxT("?%d"), index);
        return true;
    });
    if (index == 0) return wxT("INSERT INTO ") + TableName(*this, table) + wxT(" DEFAULT VALUES;");
    return wxT("INSERT INTO ") + TableName(*this, table) + wxT(" (") + columns + wxT(") VALUES (") +
           values + wxT(");");
}

wxString XMLObject::GetSQLUpdateStatement(const wxChar* table) const {
    const Attribute* key = GetKeyAttribute();
    if (key == nullptr) return wxString();
    wxString assignments;
    int index = 0;
    EnumAttributes([&](const Attribute& attribute) {
        if (attribute.isKey) return true;
        if (index > 0) assignments += wxT(',');
        ++index;
        assignments += Bracketed(attribute.name) + wxString::Format(wxT("=?%d"), index);
        return true;
    });
    // Nothing but the key: rewriting the key onto itself keeps the statement valid.
    if (index == 0) assignments = Bracketed(key->name) + wxT("=") + Bracketed(key->name);
    return wxT("UPDATE ") + TableName(*this, table) + wxT(" SET ") + assignments + wxT(" WHERE ") +
           Bracketed(key->name) + wxString::Format(wxT("=?%d;"), index + 1);
}

wxString XMLObject::GetSQLDeleteStatement(const wxChar* table) const {
    const Attribute* key = GetKeyAttribute();
    if (key == nullptr) return wxString();
    return wxT("DELETE FROM ") + TableName(*this, table) + wxT(" WHERE ") + Bracketed(key->name) +
           wxT("=?1;");
}

wxString XMLObject::GetSQLLoadStatement(const wxChar* table) const {
    const Attribute* key = GetKeyAttribute();
    if (key == nullptr) return wxString();
    return wxT("SELECT * FROM ") + TableName(*this, table) + wxT(" WHERE ") + Bracketed(key->name) +
           wxT("=?1;");
}

void XMLObject::BindAttribute(wxSQLite3Statement& statement, int index,
                              const Attribute& attribute) const {
    if (attribute.isNull) {
        statement.BindNull(index);
        return;
    }
    switch (attribute.type) {
        case AttributeType::Bool:
            statement.Bind(index, *static_cast<const bool*>(attribute.member) ? 1 : 0);
            break;
        case AttributeType::Int:
            statement.Bind(index, *static_cast<const int*>(attribute.member));
            break;
        case AttributeType::Int64:
            statement.Bind(index, wxLongLong(*static_cast<const long long*>(attribute.member)));
            break;
        case AttributeType::String:
            BindText(statement, index, *static_cast<const wxString*>(attribute.member));
            break;
        case AttributeType::Blob:
            statement.Bind(index, *static_cast<const wxMemoryBuffer*>(attribute.member));
            break;
    }
}

bool XMLObject::SQLInsert(wxSQLite3Database& db, const wxChar* table) {
    wxSQLite3Statement statement = db.PrepareStatement(GetSQLInsertStatement(table));
    return SQLInsert(db, statement);
}

bool XMLObject::SQLInsert(wxSQLite3Database& db, wxSQLite3Statement& statement) {
    statement.Reset();
    int index = 0;
    EnumAttributes([&](const Attribute& attribute) {
        BindAttribute(statement, ++index, attribute);
        return true;
    });
    statement.ExecuteUpdate();
    Attribute* key = KeyAttribute();
    if (key != nullptr && key->isNull) {
        const long long rowId = db.GetLastRowId().GetValue();
        if (key->type == AttributeType::Int)
            *static_cast<int*>(key->member) = static_cast<int>(rowId);
        else if (key->type == AttributeType::Int64)
            *static_cast<long long*>(key->member) = rowId;
        key->isNull = false;
    }
    return true;
}

bool XMLObject::SQLUpdate(wxSQLite3Database& db, const wxChar* table) {
    if (GetKeyAttribute() == nullptr) return false;
    wxSQLite3Statement statement = db.PrepareStatement(GetSQLUpdateStatement(table));
    return SQLUpdate(db, statement);
}

bool XMLObject::SQLUpdate(wxSQLite3Database&, wxSQLite3Statement& statement) {
    const Attribute* key = GetKeyAttribute();
    if (key == nullptr) return false;
    statement.Reset();
    int index = 0;
    EnumAttributes([&](const Attribute& attribute) {
        if (!attribute.isKey) BindAttribute(statement, ++index, attribute);
        return true;
    });
    BindAttribute(statement, index + 1, *key);
    return statement.ExecuteUpdate() > 0;
}

bool XMLObject::SQLDelete(wxSQLite3Database& db, const wxChar* table) {
    if (GetKeyAttribute() == nullptr) return false;
    wxSQLite3Statement statement = db.PrepareStatement(GetSQLDeleteStatement(table));
    return SQLDelete(db, statement);
}

bool XMLObject::SQLDelete(wxSQLite3Database&, wxSQLite3Statement& statement) {
    const Attribute* key = GetKeyAttribute();
    if (key == nullptr) return false;
    statement.Reset();
    BindAttribute(statement, 1, *key);
    return statement.ExecuteUpdate() > 0;
}

bool XMLObject::SQLLoad(wxSQLite3Database& db, const wxChar* table) {
    const Attribute* key = GetKeyAttribute();
    if (key == nullptr || key->isNull) return false;
    wxSQLite3Statement statement = db.PrepareStatement(GetSQLLoadStatement(table));
    BindAttribute(statement, 1, *key);
    wxSQLite3ResultSet row = statement.ExecuteQuery();
    if (!row.NextRow()) return false;
    return SQLLoad(row);
}

bool XMLObject::SQLLoad(wxSQLite3ResultSet& row) { return SQLLoad(row, SQLColumnMap(row)); }

std::vector<int> XMLObject::SQLColumnMap(wxSQLite3ResultSet& row) const {
    const int columnCount = row.GetColumnCount();
    std::vector<wxString> columns;
    columns.reserve(columnCount);
    for (int i = 0; i < columnCount; ++i) columns.push_back(row.GetColumnName(i));

    // Columns mostly come in registration order ("SELECT *"), so the search for
    // each attribute starts after the previous match: one comparison per column.
    std::vector<int> map(m_attributes.size(), -1);
    int next = 0;
    for (size_t a = 0; a < m_attributes.size(); ++a) {
        for (int n = 0; n < columnCount; ++n) {
            const int candidate = (next + n) % columnCount;
            if (columns[candidate] == m_attributes[a].name) {
                map[a] = candidate;
                next = candidate + 1;
                break;
            }
        }
    }
    return map;
}

bool XMLObject::SQLLoad(wxSQLite3ResultSet& row, const std::vector<int>& columns) {
    const size_t count = std::min(columns.size(), m_attributes.size());
    for (size_t a = 0; a < count; ++a)
        if (columns[a] >= 0) LoadColumn(row, columns[a], m_attributes[a]);
    EndElement();
    return true;
}

void XMLObject::LoadColumn(wxSQLite3ResultSet& row, int column, Attribute& attribute) {
    if (row.IsNull(column)) {
        ResetAttribute(attribute);
        attribute.isNull = true;
        return;
    }
    switch (attribute.type) {
        case AttributeType::Bool:
            *static_cast<bool*>(attribute.member) = row.GetInt64(column).GetValue() != 0;
            break;
        case AttributeType::Int:
            *static_cast<int*>(attribute.member) = row.GetInt(column);
            break;
        case AttributeType::Int64:
            *static_cast<long long*>(attribute.member) = row.GetInt64(column).GetValue();
            break;
        case AttributeType::String: {
            // The raw bytes of the text: GetString converts every key and value twice.
            int length = 0;
            const unsigned char* text = row.GetBlob(column, length);
            *static_cast<wxString*>(attribute.member) = fromUTF8Text(reinterpret_cast<const char*>(text), length);
            break;
        }
        case AttributeType::Blob: {
            wxMemoryBuffer& buffer = *static_cast<wxMemoryBuffer*>(attribute.member);
            wxMemoryBuffer loaded = EmptyLike(buffer);
            row.GetBlob(column, loaded);
            buffer = loaded;
            break;
        }
    }
    attribute.isNull = false;
}

}  // namespace KvoCore
