// The persistence base through a small record family of its own: what the
// rule tool, the queries and the versioning do not show on their own: every
// value type in and out of XML, refusals, NULL marks and blobs in SQL.
#include <gtest/gtest.h>

#include <string.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <wx/wxsqlite3.h>

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"
#include "tests/unit/TempDir.h"

namespace {

using KvoCore::XMLObject;
using KvoCore::XMLObjectList;

// A small record family: every value kind, a child, a wrapped and an inline list.
class Part : public XMLObject {
public:
    Part() {
        AddAttribute(wxT("partId"), &id, 0LL, true);
        AddAttribute(wxT("label"), &label);
        AddAttribute(wxT("weight"), &weight, 1);
    }
    wxString GetElementName() const override { return wxT("Part"); }
    long long id = 0;
    wxString label;
    int weight = 0;
};

class Tag : public XMLObject {
public:
    Tag() { AddAttribute(wxT("text"), &text, StringAlwaysPrinted); }
    wxString GetElementName() const override { return wxT("Tag"); }
    wxString text;
};

template <class Element, bool kInline>
class List : public XMLObjectList {
public:
    List() : XMLObjectList(false, kInline) {}
    wxString GetElementName() const override { return kInline ? wxT("TagList") : wxT("Parts"); }
    wxString ChildElementName() const override { return Element().GetElementName(); }
    XMLObject* CreateListElement() override { return new Element; }
};

class Options : public XMLObject {
public:
    Options() { AddAttribute(wxT("verbose"), &verbose, false); }
    wxString GetElementName() const override { return wxT("Options"); }
    bool verbose = false;
};

class Record : public XMLObject {
public:
    Record() {
        AddAttribute(wxT("recordId"), &recordId, 0LL, true);
        AddAttribute(wxT("enabled"), &enabled, true);
        AddAttribute(wxT("count"), &count, 7);
        AddAttribute(wxT("name"), &name);
        AddAttribute(wxT("note"), &note, StringAlwaysPrinted);
        AddAttribute(wxT("digest"), &digest);
        AddChild(&options);
        AddChild(&parts);
        AddChild(&tags);
    }
    wxString GetElementName() const override { return wxT("Record"); }
    long long recordId = 0;
    bool enabled = false;
    int count = 0;
    wxString name, note;
    wxMemoryBuffer digest;
    Options options;
    List<Part, false> parts;
    List<Tag, true> tags;
};

// A database row class: members it never sets are NULL.
class RecordRow : public Record {
public:
    RecordRow() {
        UseNullDefaults();
        AddAttribute(wxT("extra"), &extra, 5LL, false);
    }
    long long extra = 0;
};

wxMemoryBuffer Bytes(const std::string& bytes) {
    wxMemoryBuffer buffer;
    buffer.AppendData(bytes.data(), bytes.size());
    return buffer;
}

std::string BytesOf(const wxMemoryBuffer& buffer) {
    return std::string(static_cast<const char*>(buffer.GetData()), buffer.GetDataLen());
}

std::string Str(const wxString& text) { return std::string(text.utf8_str()); }

}  // namespace

TEST(XMLObjectXml, EveryKindParsesAndPrintsBackInRegistrationOrder) {
    const std::string expected =
        "<Record recordId=\"-9223372036854775808\" enabled=\"false\" count=\"-2147483648\" name=\"alpha\" note=\"\" "
        "digest=\"00ff10\">\n"
        "  <Options verbose=\"true\"/>\n"
        "  <Parts>\n"
        "    <Part partId=\"1\" label=\"one\" weight=\"3\"/>\n"
        "    <Part partId=\"2\" label=\"two\" weight=\"1\"/>\n"
        "  </Parts>\n"
        "  <Tag text=\"red\"/>\n"
        "  <Tag text=\"\"/>\n"
        "</Record>\n";
    Record r;
    wxString error;
    ASSERT_TRUE(r.FromXML(wxT("<Record count=\"-2147483648\" recordId=\"-9223372036854775808\" enabled=\"FALSE\" "
                              "name=\"alpha\" digest=\"00FF10\"><Options verbose=\"1\"/><Parts>"
                              "<Part partId=\"1\" label=\"one\" weight=\"3\"/><Part partId=\"2\" label=\"two\"/>"
                              "</Parts><Tag text=\"red\"/><Tag text=\"\"/></Record>"),
                          &error))
        << Str(error);
    EXPECT_EQ(Str(r.toString()), expected);
    EXPECT_EQ(BytesOf(r.digest), std::string("\x00\xff\x10", 3));

    // What was parsed is forgotten again on SetToDefaults.
    r.SetToDefaults();
    EXPECT_EQ(Str(r.toString()), "<Record recordId=\"0\" enabled=\"true\" count=\"7\" note=\"\">\n"
                                 "  <Options verbose=\"false\"/>\n</Record>\n");
    EXPECT_FALSE(r.WasParsed());
}

TEST(XMLObjectXml, EscapesMarkupAndControlCharacters) {
    const struct {
        const char* value;
        const char* printed;
        bool roundTrips;
    } cases[] = {
        {"a&b <x> \"hi\" it's", "a&amp;b &lt;x&gt; &quot;hi&quot; it's", true},
        {"tab\there two\nlines\r", "tab&#x9;here two&#xA;lines&#xD;", true},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac", true},
        {"bell\x07", "bell&#x7;", false},  // XML 1.0 cannot carry it at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Tag tag;
        tag.text = wxString::FromUTF8(c.value);
        EXPECT_EQ(Str(tag.toString()), std::string("<Tag text=\"") + c.printed + "\"/>\n");
        Tag back;
        EXPECT_EQ(back.FromXML(tag.toString()), c.roundTrips);
        if (c.roundTrips) {
            EXPECT_EQ(Str(back.text), c.value);
        }
    }
}

TEST(XMLObjectXml, RefusesValuesThatDoNotParseForTheirType) {
    const std::pair<const char*, const char*> cases[] = {
        {"count", "12x"}, {"count", ""},       {"count", "4294967296"}, {"recordId", "1.5"},
        {"recordId", "99999999999999999999"}, {"enabled", "yes"},     {"enabled", "2"},  {"digest", "abc"},
        {"digest", "zz"},
    };
    for (const auto& [attribute, value] : cases) {
        SCOPED_TRACE(std::string(attribute) + "=" + value);
        wxString error;
        Record bad;
        EXPECT_FALSE(bad.FromXML(wxString::Format(wxT("<Record\n %s=\"%s\"/>"), attribute, value), &error));
        EXPECT_NE(error.find(wxString(attribute)), wxString::npos) << Str(error);
        EXPECT_NE(error.find(wxString::Format(wxT("\"%s\""), value)), wxString::npos) << Str(error);
        EXPECT_EQ(bad.count, 7);
    }
}

TEST(XMLObjectSql, NullsAndBlobsRoundTripThroughARow) {
    TempDir dir;
    wxSQLite3Database db;
    db.Open(wxString::FromUTF8(dir.file("test.db").c_str()));
    db.ExecuteUpdate("CREATE TABLE Records (recordId INTEGER PRIMARY KEY, enabled INTEGER, count INTEGER,"
                     " name TEXT, note TEXT, digest BLOB, extra INTEGER);");
    const std::string blobs[] = {"", std::string("\0", 1), std::string("\xde\x00\xad", 3), std::string(300, '\xff')};
    for (const std::string& blob : blobs) {
        SCOPED_TRACE(blob.size());
        const wxMemoryBuffer original = Bytes(blob);
        RecordRow row;
        row.name = wxT("only name");
        row.SetAttributeNull(&row.name, false);
        row.digest = original;  // shares the bytes with original
        row.SetAttributeNull(&row.digest, false);
        ASSERT_TRUE(row.SQLInsert(db));
        EXPECT_FALSE(row.IsAttributeNull(&row.recordId)) << "the assigned key is stored";

        // Loading over values: NULL columns reset the members to their defaults
        // and stale blob bytes go; columns are matched by name.
        RecordRow loaded;
        ASSERT_TRUE(loaded.FromXML(wxT("<Record count=\"99\" enabled=\"false\" extra=\"1\" digest=\"0102030405\"/>")));
        wxSQLite3ResultSet rows = db.ExecuteQuery(
            wxString::Format("SELECT digest, extra, count, enabled, name FROM Records WHERE recordId=%lld", row.recordId));
        ASSERT_TRUE(rows.NextRow());
        ASSERT_TRUE(loaded.SQLLoad(rows));
        EXPECT_EQ(loaded.name, wxT("only name"));
        EXPECT_EQ(BytesOf(loaded.digest), blob);
        EXPECT_TRUE(loaded.IsAttributeNull(&loaded.count));
        EXPECT_EQ(loaded.count, 7);
        EXPECT_TRUE(loaded.IsAttributeNull(&loaded.enabled));
        EXPECT_TRUE(loaded.IsAttributeNull(&loaded.extra));

        // Loading, parsing and resetting never write into a shared copy.
        db.ExecuteUpdate(wxString::Format("UPDATE Records SET digest = x'0a0b0c' WHERE recordId=%lld", row.recordId));
        ASSERT_TRUE(row.SQLLoad(db));
        row.digest = original;
        ASSERT_TRUE(row.FromXML(wxT("<Record digest=\"ffff\"/>")));
        row.digest = original;
        row.SetToDefaults();
        EXPECT_EQ(BytesOf(original), blob);
    }
    db.Close();
}

// Names are shared between objects and remembered by the address of the text
// they came from: a buffer that holds another name later must give that name.
TEST(XMLObjectNames, AReusedNameBufferGivesItsCurrentName) {
    class Named : public XMLObject {
    public:
        Named(const char* narrow, const wchar_t* wide) {
            AddAttribute(narrow, &first);
            AddAttribute(wide, &second);
        }
        wxString GetElementName() const override { return wxT("Named"); }
        wxString first, second;
    };
    char narrow[16];
    wchar_t wide[16];
    std::vector<std::string> seen;
    for (const char* name : {"alpha", "beta", "alphabet", "al"}) {
        strcpy(narrow, name);
        for (size_t i = 0; i <= strlen(name); ++i) wide[i] = static_cast<wchar_t>(name[i]);
        const Named named(narrow, wide);
        EXPECT_EQ(Str(named.GetAttributeName(&named.first)), name);
        EXPECT_EQ(Str(named.GetAttributeName(&named.second)), name);
    }
}
