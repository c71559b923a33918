#include "agent/EntityRecordXml.h"

#include <wx/wxsqlite3.h>

#include "agent/Utf8.h"

namespace KvoAgent {

namespace {

// Columns of the record that another database takes as they are.
const char kEntityColumns[] = "[entityType],[entitySetId],[integrityRuleId],[integrityRuleSeverity],[keyCanonical],[key]";

void AppendAttribute(wxString& element, const wxString& name, const wxString& value) {
    element << " " << name << "=\"" << CEntityRecordXml::Escape(value) << "\"";
}

}  // namespace

wxString CEntityRecordXml::Escape(const wxString& text) {
    wxString out;
    out.reserve(text.length());
    for (wxUniChar c : text) {
        switch (c.GetValue()) {
            case '&': out << "&amp;"; break;
            case '<': out << "&lt;"; break;
            case '>': out << "&gt;"; break;
            case '"': out << "&quot;"; break;
            default:
                // A control character would end the one-line record or be lost by the parser.
                if (c.GetValue() < 0x20) out << wxString::Format("&#x%X;", static_cast<unsigned>(c.GetValue()));
                else out << c;
        }
    }
    return out;
}

bool CEntityRecordXml::Reroot(const Rerooting& rerooting, wxString& key) {
    const wxString& root = rerooting.root;
    if (!key.StartsWith(root) || (key.length() > root.length() && key[root.length()] != '/')) return false;
    key = key.Mid(root.length());
    if (key.empty()) key = "/";
    return true;
}

long long CEntityRecordXml::Print(FILE* out, const wxString& entityType, const Rerooting* rerooting) {
    wxString sql = wxString::Format(
        "SELECT [entityId],%s FROM [Entitys] WHERE ([supercededBy] ISNULL OR [supercededBy]=0) AND [key]<>'' AND "
        "[integrityRuleId]<>0 AND LENGTH([attributeHash])>0",
        kEntityColumns);
    if (!entityType.empty()) sql << " AND [entityType]=?1";
    wxSQLite3Statement select = m_db.PrepareStatement(sql + " ORDER BY [entityId];");
    if (!entityType.empty()) select.Bind(1, entityType);
    wxSQLite3ResultSet rows = select.ExecuteQuery();
    long long written = 0;
    while (rows.NextRow()) {
        long long setId = rows.GetInt64(2).GetValue();
        wxString keyCanonical = rows.GetString(5), key = rows.GetString(6);
        if (rerooting) {
            const auto mapped = rerooting->setIds.find(setId);
            if (mapped == rerooting->setIds.end() || !Reroot(*rerooting, keyCanonical) || !Reroot(*rerooting, key))
                continue;
            setId = mapped->second;
        }
        wxString element = "<Entity";
        AppendAttribute(element, "entityType", rows.GetString(1));
        AppendAttribute(element, "entitySetId", wxString::Format("%lld", setId));
        AppendAttribute(element, "integrityRuleId", rows.GetString(3));
        if (!rows.IsNull(4)) AppendAttribute(element, "integrityRuleSeverity", rows.GetString(4));
        AppendAttribute(element, "keyCanonical", keyCanonical);
        AppendAttribute(element, "key", key);
        element << "><Attributes>" << AttributesOf(rows.GetInt64(0).GetValue()) << "</Attributes></Entity>";
        fprintf(out, "%s\n", Narrow(element).c_str());
        ++written;
    }
    return written;
}

wxString CEntityRecordXml::AttributesOf(long long entityId) {
    wxSQLite3Statement select = m_db.PrepareStatement(
        "SELECT [name],[value],[friendlyValue],[internalValue] FROM [Attributes] WHERE [entityId]=?1 ORDER BY "
        "[attributeId];");
    select.Bind(1, static_cast<wxLongLong>(entityId));
    wxSQLite3ResultSet rows = select.ExecuteQuery();
    wxString elements;
    while (rows.NextRow()) {
        elements << "<Attribute";
        const char* const names[] = {"name", "value", "friendlyValue", "internalValue"};
        for (int column = 0; column < 4; ++column)
            if (!rows.IsNull(column)) AppendAttribute(elements, names[column], rows.GetString(column));
        elements << "/>";
    }
    return elements;
}

}  // namespace KvoAgent
