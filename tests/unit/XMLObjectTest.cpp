// The persistence base through a small record family of its own: a record with
// every attribute type and a key, a plain child, a wrapped list of sub-records
// and an inline list.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <lua.hpp>
#include <wx/mstream.h>
#include <wx/wxsqlite3.h>

#include "core/IdNameObject.h"
#include "core/XMLObject.h"
#include "core/XMLObjectList.h"

namespace {

using KvoCore::XMLObject;
using KvoCore::XMLObjectList;

class Part : public XMLObject {
public:
    Part() {
        AddAttribute(wxT("partId"), &id, 0LL, true);
        AddAttribute(wxT("label"), &label);
        AddAttribute(wxT("weight"), &weight, 1);
    }
    wxString GetElementName() const override { return wxT("Part"); }
    void EndElement() override { ++endElementCalls; }

    long long id = 0;
    wxString label;
    int weight = 0;
    int endElementCalls = 0;
};

class Parts : public XMLObjectList {
public:
    Parts() : XMLObjectList(false, false) {}
    wxString GetElementName() const override { return wxT("Parts"); }
    wxString ChildElementName() const override { return wxT("Part"); }
    XMLObject* CreateListElement() override { return new Part; }
    const Part& at(size_t i) const { return *static_cast<const Part*>(Children().at(i)); }
};

class Tag : public XMLObject {
public:
    Tag() { AddAttribute(wxT("text"), &text, StringAlwaysPrinted); }
    wxString GetElementName() const override { return wxT("Tag"); }
    wxString text;
};

class Tags : public XMLObjectList {
public:
    Tags() : XMLObjectList(false, true) {}
    wxString GetElementName() const override { return wxT("TagList"); }
    wxString ChildElementName() const override { return wxT("Tag"); }
    XMLObject* CreateListElement() override { return new Tag; }
    const Tag& at(size_t i) const { return *static_cast<const Tag*>(Children().at(i)); }
};

class Options : public XMLObject {
public:
    Options() { AddAttribute(wxT("verbose"), &verbose, false); }
    wxString GetElementName() const override { return wxT("Options"); }
    bool verbose = false;
};

// Records the hooks in the order the parser calls them.
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
    void EndAttributes() override { events.push_back("attributes"); }
    void EndElement() override { events.push_back("end"); }
    void OnUnhandledAttribute(const wxString& n, const wxString& v) override {
        events.push_back("attribute " + n.ToStdString() + "=" + v.ToStdString());
    }
    void OnUnhandledChildElement(const wxString& n) override {
        events.push_back("child " + n.ToStdString());
    }

    long long recordId = 0;
    bool enabled = false;
    int count = 0;
    wxString name;
    wxString note;
    wxMemoryBuffer digest;
    Options options;
    Parts parts;
    Tags tags;
    std::vector<std::string> events;
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

// The id of the base re-registered under the table's key column.
class Rule : public KvoCore::CIdNameObject {
public:
    Rule() {
        ReplaceAttribute(wxT("id"), wxT("ruleId"), &m_id, -1, true);
        AddAttribute(wxT("severity"), &severity, 2);
    }
    wxString GetElementName() const override { return wxT("Rule"); }
    int severity = 0;
};

wxMemoryBuffer Bytes(std::initializer_list<unsigned char> bytes) {
    wxMemoryBuffer buffer;
    for (unsigned char b : bytes) buffer.AppendByte(static_cast<char>(b));
    return buffer;
}

bool SameBytes(const wxMemoryBuffer& a, const wxMemoryBuffer& b) {
    return a.GetDataLen() == b.GetDataLen() &&
           (a.GetDataLen() == 0 || memcmp(a.GetData(), b.GetData(), a.GetDataLen()) == 0);
}

std::string Str(const wxString& text) { return std::string(text.utf8_str()); }

const char* const kFullRecord =
    "<Record recordId=\"12\" enabled=\"false\" count=\"42\" name=\"alpha\" digest=\"00FF10\">\n"
    "  <Options verbose=\"true\"/>\n"
    "  <Parts>\n"
    "    <Part partId=\"1\" label=\"one\" weight=\"3\"/>\n"
    "    <Part partId=\"2\" label=\"two\"/>\n"
    "  </Parts>\n"
    "  <Tag text=\"red\"/>\n"
    "  <Tag text=\"\"/>\n"
    "</Record>\n";

// ---------------------------------------------------------------- XML

TEST(XMLObjectXml, ParsesEveryKindAndPrintsItBackInRegistrationOrder) {
    Record r;
    wxString error;
    ASSERT_TRUE(r.FromXML(wxString::FromUTF8(kFullRecord), &error)) << Str(error);
    EXPECT_EQ(r.recordId, 12);
    EXPECT_FALSE(r.enabled);
    EXPECT_EQ(r.count, 42);
    EXPECT_EQ(r.name, wxT("alpha"));
    EXPECT_TRUE(SameBytes(r.digest, Bytes({0x00, 0xff, 0x10})));
    EXPECT_TRUE(r.options.verbose);
    ASSERT_EQ(r.parts.size(), 2u);
    EXPECT_EQ(r.parts.at(0).label, wxT("one"));
    EXPECT_EQ(r.parts.at(0).weight, 3);
    EXPECT_EQ(r.parts.at(1).id, 2);
    EXPECT_EQ(r.parts.at(1).weight, 1);  // the registered default
    ASSERT_EQ(r.tags.size(), 2u);
    EXPECT_EQ(r.tags.at(0).text, wxT("red"));

    EXPECT_TRUE(r.WasParsed());
    EXPECT_TRUE(r.options.WasParsed());
    EXPECT_TRUE(r.AttributeWasParsed(&r.name));
    EXPECT_FALSE(r.AttributeWasParsed(&r.note));
    EXPECT_EQ(r.events, (std::vector<std::string>{"attributes", "end"}));

    const std::string expected =
        "<Record recordId=\"12\" enabled=\"false\" count=\"42\" name=\"alpha\" note=\"\" "
        "digest=\"00ff10\">\n"
        "  <Options verbose=\"true\"/>\n"
        "  <Parts>\n"
        "    <Part partId=\"1\" label=\"one\" weight=\"3\"/>\n"
        "    <Part partId=\"2\" label=\"two\" weight=\"1\"/>\n"
        "  </Parts>\n"
        "  <Tag text=\"red\"/>\n"
        "  <Tag text=\"\"/>\n"
        "</Record>\n";
    EXPECT_EQ(Str(r.toString()), expected);

    Record second;
    ASSERT_TRUE(second.FromXML(r.toString(), &error)) << Str(error);
    EXPECT_EQ(Str(second.toString()), expected);

    // Nested at a deeper level every line moves by the same two blanks.
    const std::string indented = Str(r.toString(2));
    EXPECT_EQ(indented.substr(0, 12), "    <Record ");
    EXPECT_NE(indented.find("\n      <Parts>\n        <Part partId=\"1\""), std::string::npos);
    EXPECT_NE(indented.find("\n    </Record>\n"), std::string::npos);
}

TEST(XMLObjectXml, EscapesMarkupAndControlCharacters) {
    struct Case {
        const char* value;
        const char* printed;
        bool roundTrips;
    };
    const Case cases[] = {
        {"a&b", "a&amp;b", true},
        {"<x>", "&lt;x&gt;", true},
        {"say \"hi\"", "say &quot;hi&quot;", true},
        {"it's", "it's", true},
        {"tab\there", "tab&#x9;here", true},
        {"two\nlines\r", "two&#xA;lines&#xD;", true},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac", true},
        // XML 1.0 cannot carry this one at all, not even as a reference.
        {"bell\x07", "bell&#x7;", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Tag tag;
        tag.text = wxString::FromUTF8(c.value);
        const std::string printed = std::string("<Tag text=\"") + c.printed + "\"/>\n";
        EXPECT_EQ(Str(tag.toString()), printed);
        // Byte streams get the same text as UTF-8.
        wxMemoryOutputStream out;
        tag.ToXML(out, 1);
        std::string bytes(out.GetSize(), '\0');
        out.CopyTo(&bytes[0], bytes.size());
        EXPECT_EQ(bytes, "  " + printed);
        Tag back;
        EXPECT_EQ(back.FromXML(tag.toString()), c.roundTrips);
        if (c.roundTrips) {
            EXPECT_EQ(Str(back.text), c.value);
        }
    }
}

TEST(XMLObjectXml, LeavesOutWhatWasNotThere) {
    Record r;
    // Empty strings and blobs are left out unless flagged; an absent child list
    // stays absent; a plain child with a printable attribute is printed.
    EXPECT_EQ(Str(r.toString()),
              "<Record recordId=\"0\" enabled=\"true\" count=\"7\" note=\"\">\n"
              "  <Options verbose=\"false\"/>\n"
              "</Record>\n");

    // A wrapped list given empty in the input is kept on printing back.
    Record withEmptyList;
    ASSERT_TRUE(withEmptyList.FromXML(wxT("<Record><Parts/></Record>")));
    EXPECT_NE(Str(withEmptyList.toString()).find("  <Parts/>\n"), std::string::npos);
}

TEST(XMLObjectXml, RoutesUnknownNamesToHooksCaseSensitively) {
    Record r;
    ASSERT_TRUE(r.FromXML(wxT("<Record Name=\"x\" colour=\"blue\" name=\"n\">"
                              "<options verbose=\"true\"/><Shape/><Tag text=\"t\"/><part/>"
                              "<Part label=\"outside its list\"/></Record>")));
    EXPECT_EQ(r.events, (std::vector<std::string>{"attribute Name=x", "attribute colour=blue",
                                                  "attributes", "child options", "child Shape",
                                                  "child part", "child Part", "end"}));
    EXPECT_EQ(r.name, wxT("n"));
    EXPECT_FALSE(r.options.verbose);
    EXPECT_EQ(r.tags.size(), 1u);
    EXPECT_TRUE(r.parts.empty());

    // Without an override the base ignores unknown names.
    Part p;
    ASSERT_TRUE(p.FromXML(wxT("<Part other=\"1\" label=\"l\"><Nested/></Part>")));
    EXPECT_EQ(p.label, wxT("l"));
}

TEST(XMLObjectXml, RejectsValuesThatDoNotParseForTheirType) {
    const std::pair<const char*, const char*> cases[] = {
        {"count", "abc"},       {"count", "12x"},      {"count", ""},
        {"count", "4294967296"}, {"recordId", "1.5"},   {"recordId", "99999999999999999999"},
        {"enabled", "yes"},      {"enabled", "2"},      {"digest", "abc"},
        {"digest", "zz"},
    };
    for (const auto& [attribute, value] : cases) {
        SCOPED_TRACE(std::string(attribute) + "=" + value);
        wxString error;
        Record bad;
        EXPECT_FALSE(bad.FromXML(wxString::Format(wxT("<Record\n %s=\"%s\"/>"), attribute, value),
                                 &error));
        EXPECT_NE(error.find(wxT("Record")), wxString::npos) << Str(error);
        EXPECT_NE(error.find(wxString(attribute)), wxString::npos) << Str(error);
        EXPECT_NE(error.find(wxString::Format(wxT("\"%s\""), value)), wxString::npos) << Str(error);
        EXPECT_NE(error.find(wxT("line 1")), wxString::npos) << Str(error);
        EXPECT_EQ(bad.count, 7);
        EXPECT_TRUE(bad.enabled);
        EXPECT_EQ(bad.recordId, 0);
    }

    // The failure of a member element is reported with the member's name.
    Record r;
    wxString error;
    EXPECT_FALSE(r.FromXML(wxT("<Record><Parts><Part weight=\"heavy\"/></Parts></Record>"), &error));
    EXPECT_NE(error.find(wxT("Part")), wxString::npos);
    EXPECT_NE(error.find(wxT("heavy")), wxString::npos);
}

TEST(XMLObjectXml, AcceptsBooleanAndNumberSpellings) {
    const std::pair<const char*, bool> booleans[] = {
        {"true", true}, {"TRUE", true}, {"1", true}, {"false", false}, {"False", false}, {"0", false}};
    for (const auto& [text, value] : booleans) {
        Options o;
        o.verbose = !value;
        ASSERT_TRUE(o.FromXML(wxString::Format(wxT("<Options verbose=\"%s\"/>"), text))) << text;
        EXPECT_EQ(o.verbose, value) << text;
    }
    Record r;
    ASSERT_TRUE(r.FromXML(wxT("<Record count=\"-2147483648\" recordId=\"-9223372036854775808\"/>")));
    EXPECT_EQ(r.count, -2147483647 - 1);
    EXPECT_EQ(r.recordId, (-9223372036854775807LL - 1));
}

TEST(XMLObjectXml, RejectsTextThatIsNotXmlOrHasAnotherRoot) {
    const std::pair<const char*, const char*> cases[] = {
        {"<Record>\n<Parts>\n</Record>", "line 3"},
        {"<Record>\n\n<Tag></Record>", "line 3"},
        {"<Record name=\"a\" name=\"b\"/>", "line 1"},
        {"\n\n\n<Record", "line 4"},
        {"", "line 1"},
        {"<record name=\"x\"/>", "Record"},
    };
    for (const auto& [text, mentions] : cases) {
        // Configuration reloads parse on agent threads, where wx logs per thread.
        for (bool onWorker : {false, true}) {
            SCOPED_TRACE(std::string(text) + (onWorker ? " (on a worker thread)" : ""));
            Record r;
            wxString error;
            bool parsed = true;
            auto parse = [&] { parsed = r.FromXML(wxString::FromUTF8(text), &error); };
            if (onWorker) std::thread(parse).join();
            if (!onWorker) parse();
            EXPECT_FALSE(parsed);
            EXPECT_NE(error.find(wxString(mentions)), wxString::npos) << Str(error);
            EXPECT_TRUE(r.name.empty());
            EXPECT_FALSE(r.WasParsed());
        }
    }
}

TEST(XMLObjectXml, ListsParseTheirOwnElements) {
    // A wrapped list's root is its own element, not a member's.
    Parts parts;
    EXPECT_FALSE(parts.FromXML(wxT("<Part label=\"c\"/>")));
    EXPECT_TRUE(parts.empty());

    // An inline list has no element of its own: each element is one more member.
    Tags tags;
    ASSERT_TRUE(tags.FromXML(wxT("<Tag text=\"x\"/>")));
    ASSERT_TRUE(tags.FromXML(wxT("<Tag text=\"y\"/>")));
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags.at(1).text, wxT("y"));
    EXPECT_EQ(Str(tags.toString(1)), "  <Tag text=\"x\"/>\n  <Tag text=\"y\"/>\n");
}

TEST(XMLObjectXml, SetToDefaultsForgetsEverythingParsed) {
    Record r;
    ASSERT_TRUE(r.FromXML(wxString::FromUTF8(kFullRecord)));
    r.SetToDefaults();
    EXPECT_EQ(r.recordId, 0);
    EXPECT_TRUE(r.enabled);
    EXPECT_EQ(r.count, 7);
    EXPECT_TRUE(r.name.empty());
    EXPECT_EQ(r.digest.GetDataLen(), 0u);
    EXPECT_FALSE(r.options.verbose);
    EXPECT_TRUE(r.parts.empty());
    EXPECT_TRUE(r.tags.empty());
    EXPECT_FALSE(r.WasParsed());
    EXPECT_FALSE(r.options.WasParsed());
    EXPECT_FALSE(r.AttributeWasParsed(&r.name));

    RecordRow row;
    ASSERT_TRUE(row.FromXML(wxT("<Record name=\"n\" extra=\"9\"/>")));
    row.SetToDefaults();
    EXPECT_TRUE(row.IsAttributeNull(&row.name));
    EXPECT_TRUE(row.IsAttributeNull(&row.extra));
    EXPECT_EQ(row.extra, 5);
}

// ---------------------------------------------------------------- NULL marks

TEST(XMLObjectNull, RecordClassesStartNullAndPrintOnlyWhatIsSet) {
    RecordRow row;
    for (const void* member : std::vector<const void*>{&row.recordId, &row.enabled, &row.count,
                                                       &row.name, &row.note, &row.digest, &row.extra})
        EXPECT_TRUE(row.IsAttributeNull(member)) << Str(row.GetAttributeName(member));
    EXPECT_EQ(row.extra, 5);  // registered after UseNullDefaults: NULL, default still held
    EXPECT_EQ(row.count, 7);
    EXPECT_EQ(Str(row.toString()), "<Record>\n  <Options verbose=\"false\"/>\n</Record>\n");

    row.count = 3;
    row.SetAttributeNull(&row.count, false);
    ASSERT_TRUE(row.FromXML(wxT("<Record note=\"\"/>")));
    EXPECT_FALSE(row.IsAttributeNull(&row.note));
    EXPECT_EQ(Str(row.toString()),
              "<Record count=\"3\" note=\"\">\n  <Options verbose=\"false\"/>\n</Record>\n");

    // Plain objects hold their defaults as values, and NULL hides one again.
    Record plain;
    EXPECT_FALSE(plain.IsAttributeNull(&plain.count));
    plain.SetAttributeNull(&plain.count, true);
    EXPECT_EQ(Str(plain.toString()).find("count="), std::string::npos);
}

// ---------------------------------------------------------------- ReplaceAttribute

TEST(XMLObjectReplaceAttribute, RenamesInPlaceWithNewDefaultAndKey) {
    Rule rule;
    ASSERT_NE(rule.GetKeyAttribute(), nullptr);
    EXPECT_EQ(rule.GetKeyAttribute()->name, wxT("ruleId"));
    EXPECT_EQ(rule.GetId(), -1);
    EXPECT_EQ(rule.FindAttribute(wxT("id")), nullptr);
    EXPECT_EQ(Str(rule.GetSQLInsertStatement()),
              "INSERT INTO [Rules] ([ruleId],[name],[severity]) VALUES (?1,?2,?3);");

    ASSERT_TRUE(rule.FromXML(wxT("<Rule id=\"9\" ruleId=\"4\" name=\"r\"/>")));
    EXPECT_EQ(rule.GetId(), 4);
    EXPECT_EQ(rule.GetName(), wxT("r"));
    EXPECT_EQ(Str(rule.toString()), "<Rule ruleId=\"4\" name=\"r\" severity=\"2\"/>\n");

    rule.SetToDefaults();
    EXPECT_EQ(rule.GetId(), -1);
}

// ---------------------------------------------------------------- Lua

class XMLObjectLua : public ::testing::Test {
protected:
    void SetUp() override {
        L = luaL_newstate();
        luaL_openlibs(L);
    }
    void TearDown() override { lua_close(L); }

    // Pushes the object, stores it as global r and evaluates each expression.
    void Check(const XMLObject& object,
               const std::vector<std::pair<const char*, const char*>>& expressions) {
        const int top = lua_gettop(L);
        object.toLua(L);
        ASSERT_EQ(lua_gettop(L), top + 1);
        ASSERT_EQ(lua_type(L, -1), LUA_TTABLE);
        lua_setglobal(L, "r");
        for (const auto& [expression, expected] : expressions) {
            const std::string chunk = std::string("return tostring(") + expression + ")";
            ASSERT_EQ(luaL_dostring(L, chunk.c_str()), 0) << lua_tostring(L, -1);
            EXPECT_STREQ(lua_tostring(L, -1), expected) << expression;
            lua_pop(L, 1);
        }
        EXPECT_EQ(lua_gettop(L), top);
    }

    lua_State* L = nullptr;
};

TEST_F(XMLObjectLua, RecordBecomesNestedTables) {
    RecordRow row;
    ASSERT_TRUE(row.FromXML(wxString::FromUTF8(
        "<Record recordId=\"1234567890123\" enabled=\"false\" name=\"caf\xc3\xa9\" digest=\"0aFF\">"
        "<Parts><Part partId=\"1\" label=\"one\"/><Part partId=\"2\"/></Parts>"
        "<Tag text=\"red\"/><Tag text=\"\"/></Record>")));
    Check(row, {
                   {"type(r.enabled)", "boolean"},
                   {"r.enabled", "false"},
                   {"type(r.recordId)", "number"},
                   {"r.recordId == 1234567890123", "true"},
                   {"r.name", "caf\xc3\xa9"},
                   {"#r.name", "5"},
                   {"r.digest", "0aff"},
                   {"r.count", "nil"},  // NULL
                   {"r.extra", "nil"},
                   {"r.note", "nil"},
                   {"r.Options.verbose", "false"},
                   {"#r.Parts", "2"},
                   {"r.Parts[1].label", "one"},
                   {"r.Parts[1].weight", "1"},
                   {"r.Parts[2].partId", "2"},
                   {"r.Parts[2].label", ""},  // empty, yet not NULL
                   {"#r.Tags", "2"},
                   {"r.Tags[1].text", "red"},
                   {"r.Tags[2].text", ""},
                   {"r.TagList", "nil"},
               });
}

TEST_F(XMLObjectLua, ListBecomesArray) {
    Parts parts;
    Check(parts, {{"#r", "0"}});
    ASSERT_TRUE(parts.FromXML(wxT("<Parts><Part label=\"a\"/><Part label=\"b\"/></Parts>")));
    Check(parts, {{"#r", "2"}, {"r[2].label", "b"}, {"r.Part", "nil"}});
}

// ---------------------------------------------------------------- SQL

class XMLObjectSql : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/xmlobject-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        db.Open(wxString::FromUTF8((dir + "/test.db").c_str()));
        db.ExecuteUpdate(
            "CREATE TABLE Records (recordId INTEGER PRIMARY KEY, enabled INTEGER, count INTEGER,"
            " name TEXT, note TEXT, digest BLOB, extra INTEGER);");
        db.ExecuteUpdate("CREATE TABLE Parts (partId INTEGER PRIMARY KEY, label TEXT, weight INTEGER);");
    }
    void TearDown() override {
        db.Close();
        std::filesystem::remove_all(dir);
    }
    int Scalar(const char* sql) { return db.ExecuteScalar(sql); }
    wxString Text(const char* sql) {
        wxSQLite3ResultSet rs = db.ExecuteQuery(sql);
        return rs.NextRow() ? rs.GetAsString(0) : wxString(wxT("<no row>"));
    }

    std::string dir;
    wxSQLite3Database db;
};

TEST_F(XMLObjectSql, StatementsBracketNamesAndNumberParametersInOrder) {
    RecordRow row;
    EXPECT_EQ(Str(row.GetSQLInsertStatement()),
              "INSERT INTO [Records] ([recordId],[enabled],[count],[name],[note],[digest],[extra])"
              " VALUES (?1,?2,?3,?4,?5,?6,?7);");
    EXPECT_EQ(Str(row.GetSQLUpdateStatement(wxT("Old Records"))),
              "UPDATE [Old Records] SET [enabled]=?1,[count]=?2,[name]=?3,[note]=?4,[digest]=?5,"
              "[extra]=?6 WHERE [recordId]=?7;");
    EXPECT_EQ(Str(row.GetSQLDeleteStatement()), "DELETE FROM [Records] WHERE [recordId]=?1;");

    // A table whose name needs the brackets works end to end.
    db.ExecuteUpdate("CREATE TABLE [Old Records] (recordId INTEGER PRIMARY KEY, enabled, count,"
                     " name, note, digest, extra);");
    row.name = wxT("kept");
    row.SetAttributeNull(&row.name, false);
    ASSERT_TRUE(row.SQLInsert(db, wxT("Old Records")));
    row.name = wxT("changed");
    ASSERT_TRUE(row.SQLUpdate(db, wxT("Old Records")));
    EXPECT_EQ(Text("SELECT name FROM [Old Records];"), wxT("changed"));
}

TEST_F(XMLObjectSql, InsertStoresTheAssignedKeyAndKeepsAnExplicitOne) {
    db.ExecuteUpdate("INSERT INTO Records (recordId) VALUES (40);");
    RecordRow assigned;
    ASSERT_TRUE(assigned.SQLInsert(db));
    EXPECT_EQ(assigned.recordId, 41);
    EXPECT_FALSE(assigned.IsAttributeNull(&assigned.recordId));

    RecordRow explicitKey;
    explicitKey.recordId = 7;
    explicitKey.SetAttributeNull(&explicitKey.recordId, false);
    ASSERT_TRUE(explicitKey.SQLInsert(db));
    EXPECT_EQ(explicitKey.recordId, 7);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Records WHERE recordId = 7;"), 1);

    // Inserting the same key again is the database's error, not a silent success.
    EXPECT_THROW(explicitKey.SQLInsert(db), wxSQLite3Exception);
}

TEST_F(XMLObjectSql, UnsetMembersAreNullInTheRowAndLoadBackAsNull) {
    RecordRow row;
    row.name = wxT("only name");
    row.SetAttributeNull(&row.name, false);
    ASSERT_TRUE(row.SQLInsert(db));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Records WHERE enabled IS NULL AND count IS NULL AND"
                     " note IS NULL AND digest IS NULL AND extra IS NULL AND name = 'only name';"),
              1);

    // Loading over values: NULL columns reset the members to their defaults.
    RecordRow loaded;
    ASSERT_TRUE(loaded.FromXML(wxT("<Record count=\"99\" enabled=\"false\" extra=\"1\"/>")));
    loaded.recordId = row.recordId;
    loaded.SetAttributeNull(&loaded.recordId, false);
    ASSERT_TRUE(loaded.SQLLoad(db));
    EXPECT_EQ(loaded.name, wxT("only name"));
    EXPECT_FALSE(loaded.IsAttributeNull(&loaded.name));
    EXPECT_TRUE(loaded.IsAttributeNull(&loaded.count));
    EXPECT_EQ(loaded.count, 7);
    EXPECT_TRUE(loaded.IsAttributeNull(&loaded.enabled));
    EXPECT_TRUE(loaded.enabled);
    EXPECT_TRUE(loaded.IsAttributeNull(&loaded.extra));
    EXPECT_EQ(Str(loaded.toString()).find("count="), std::string::npos);
}

TEST_F(XMLObjectSql, PreparedInsertIsReusedForManyRows) {
    Part part;
    wxSQLite3Statement insert = db.PrepareStatement(part.GetSQLInsertStatement());
    std::vector<long long> ids;
    for (int i = 0; i < 50; ++i) {
        part.SetAttributeNull(&part.id, true);
        part.label = wxString::Format(wxT("part %d"), i);
        part.weight = i;
        ASSERT_TRUE(part.SQLInsert(db, insert));
        ids.push_back(part.id);
    }
    EXPECT_EQ(Scalar("SELECT COUNT(DISTINCT partId) FROM Parts;"), 50);
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), 50);
    EXPECT_EQ(Text("SELECT label FROM Parts WHERE partId = 50 AND weight = 49;"), wxT("part 49"));
}

TEST_F(XMLObjectSql, UpdateAndDeleteAddressOnlyTheKeyedRow) {
    Part a, b;
    a.label = wxT("a");
    b.label = wxT("b");
    for (Part* p : {&a, &b}) {
        p->SetAttributeNull(&p->id, true);
        ASSERT_TRUE(p->SQLInsert(db));
    }
    a.label = wxT("a2");
    a.weight = 9;
    EXPECT_TRUE(a.SQLUpdate(db));
    EXPECT_EQ(Text("SELECT group_concat(label || weight, ',') FROM Parts ORDER BY partId;"),
              wxT("a29,b1"));

    EXPECT_TRUE(b.SQLDelete(db));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Parts;"), 1);
    EXPECT_FALSE(b.SQLDelete(db));  // already gone
    EXPECT_FALSE(b.SQLUpdate(db));

    // No key attribute: nothing can be addressed.
    Tag tag;
    EXPECT_FALSE(tag.SQLUpdate(db, wxT("Parts")));
    EXPECT_FALSE(tag.SQLDelete(db, wxT("Parts")));
    EXPECT_FALSE(tag.SQLLoad(db, wxT("Parts")));
}

TEST_F(XMLObjectSql, LoadsARowByKeyWithBlobs) {
    std::vector<wxMemoryBuffer> blobs = {wxMemoryBuffer(), Bytes({0x00}), Bytes({0xde, 0x00, 0xad})};
    wxMemoryBuffer all;
    for (int i = 0; i < 256; ++i) all.AppendByte(static_cast<char>(i));
    blobs.push_back(all);
    for (const wxMemoryBuffer& blob : blobs) {
        SCOPED_TRACE(blob.GetDataLen());
        Record r;
        r.SetAttributeNull(&r.recordId, true);
        r.digest = blob;
        r.name = wxT("with blob");
        ASSERT_TRUE(r.SQLInsert(db));

        Record back;
        back.digest = Bytes({0x01, 0x02, 0x03, 0x04, 0x05});  // stale content must go
        back.recordId = r.recordId;
        ASSERT_TRUE(back.SQLLoad(db));
        EXPECT_TRUE(SameBytes(back.digest, blob));
        EXPECT_EQ(back.name, wxT("with blob"));
        EXPECT_EQ(back.note, wxT(""));
        EXPECT_FALSE(back.IsAttributeNull(&back.note));
    }
    Record missing;
    missing.recordId = 999;
    EXPECT_FALSE(missing.SQLLoad(db));
}

TEST_F(XMLObjectSql, BlobMembersNeverChangeACopy) {
    const wxMemoryBuffer original = Bytes({0x01, 0x02});
    Record r;
    r.digest = original;  // shares the bytes with original
    ASSERT_TRUE(r.SQLInsert(db));
    db.ExecuteUpdate("UPDATE Records SET digest = x'0a0b0c';");
    ASSERT_TRUE(r.SQLLoad(db));
    r.digest = original;
    ASSERT_TRUE(r.FromXML(wxT("<Record digest=\"ffff\"/>")));
    r.digest = original;
    r.SetToDefaults();
    EXPECT_TRUE(SameBytes(original, Bytes({0x01, 0x02})));
}

TEST_F(XMLObjectSql, ResultSetColumnsAreMatchedByName) {
    db.ExecuteUpdate("INSERT INTO Parts VALUES (5, 'five', 50);");
    Part part;
    part.label = wxT("untouched");
    part.weight = 3;
    wxSQLite3ResultSet rows = db.ExecuteQuery("SELECT weight, 'x' AS other, partId FROM Parts;");
    ASSERT_TRUE(rows.NextRow());
    ASSERT_TRUE(part.SQLLoad(rows));
    EXPECT_EQ(part.id, 5);
    EXPECT_EQ(part.weight, 50);
    EXPECT_EQ(part.label, wxT("untouched"));
    EXPECT_EQ(part.endElementCalls, 1);
}

TEST_F(XMLObjectSql, WholeListsInsertLoadUpdateAndDelete) {
    Parts parts;
    ASSERT_TRUE(parts.FromXML(wxT("<Parts><Part label=\"a\" weight=\"1\"/><Part label=\"b\" weight=\"2\"/>"
                                  "<Part label=\"c\" weight=\"3\"/></Parts>")));
    for (XMLObject* member : parts.Children()) {
        Part* p = static_cast<Part*>(member);
        p->SetAttributeNull(&p->id, true);
    }
    ASSERT_TRUE(parts.SQLInsert(db));
    EXPECT_EQ(parts.at(0).id, 1);
    EXPECT_EQ(parts.at(2).id, 3);

    Parts loaded;
    ASSERT_TRUE(loaded.SQLLoad(db));  // default table: member element name + "s"
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(Str(loaded.toString()), Str(parts.toString()));
    EXPECT_EQ(loaded.at(1).endElementCalls, 1);

    for (XMLObject* member : parts.Children()) static_cast<Part*>(member)->weight *= 10;
    ASSERT_TRUE(parts.SQLUpdate(db));
    EXPECT_EQ(Scalar("SELECT SUM(weight) FROM Parts;"), 60);

    // A result set the caller has moved onto already: that row is the first member.
    wxSQLite3ResultSet rows = db.ExecuteQuery("SELECT * FROM Parts WHERE partId >= 2 ORDER BY partId;");
    ASSERT_TRUE(rows.NextRow());
    ASSERT_TRUE(loaded.SQLLoad(rows));
    ASSERT_EQ(loaded.size(), 5u);
    EXPECT_EQ(loaded.at(3).id, 2);
    EXPECT_EQ(loaded.at(4).weight, 30);

    ASSERT_TRUE(parts.SQLDelete(db));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Parts;"), 0);
}

}  // namespace
