// What records compute when they are loaded: the search expression of
// directory, file and registry sets, and the compiled pattern and its path
// components of include/exclude patterns.
#include <memory>
#include <string>
#include <vector>

#include <wx/regex.h>

#include "tests/unit/im/SqlRecordsTestSupport.h"

namespace {

using namespace KvoPluginIm;

std::vector<std::string> Strings(const wxArrayString& array) {
    std::vector<std::string> strings;
    for (const wxString& item : array) strings.push_back(item.ToStdString());
    return strings;
}

class SqlRecordExpressions : public KvoTest::RecordDbFixture {
protected:
    template <typename TRecord>
    bool LoadById(TRecord& record, long long id) {
        record.m_entitySetId = id;
        record.SetAttributeNull(&record.m_entitySetId, false);
        return record.SQLLoad(*m_db);
    }
};

struct SearchCase {
    const char* name;
    const wchar_t* regEx;  // nullptr: NULL column
    bool compiles;
    const wchar_t* matching;
    const wchar_t* otherCase;  // same path in another case: no match on Linux
};

// A set whose expression is missing or broken still scans its search base.
TEST_F(SqlRecordExpressions, DirectorySearchExpressionByColumnValue) {
    const std::vector<SearchCase> cases = {
        {"NULL column", nullptr, false, nullptr, nullptr}, {"empty", L"", false, nullptr, nullptr},
        {"does not compile", L"^/var/(log", false, nullptr, nullptr},
        {"unbalanced bracket", L"^/var/[log", false, nullptr, nullptr},
        {"wildcard base", L"^/var/log/[^/]*$", true, L"/var/log/apt", L"/VAR/LOG/apt"},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        CSqlDirectoryEntitySet written;
        written.SetDirectory(wxT("/var/log/*"));
        written.SetDirectorySearchBase(wxT("/var/log"));
        if (c.regEx != nullptr) written.SetDirectoryRegEx(c.regEx);
        ASSERT_TRUE(written.SQLInsert(*m_db));

        CSqlDirectoryEntitySet loaded;
        ASSERT_TRUE(LoadById(loaded, written.m_entitySetId));
        EXPECT_EQ(loaded.GetSearchBase(), wxT("/var/log"));
        EXPECT_EQ(loaded.m_directory, wxT("/var/log/*"));
        EXPECT_EQ(loaded.IsAttributeNull(&loaded.m_directoryRegEx), c.regEx == nullptr);
        ASSERT_EQ(loaded.GetSearchRegEx() != nullptr, c.compiles);
        if (!c.compiles) continue;
        EXPECT_TRUE(loaded.GetSearchRegEx()->Matches(c.matching));
        EXPECT_FALSE(loaded.GetSearchRegEx()->Matches(c.otherCase)) << "Linux file names keep their case";
    }
}

// Scanners reuse one record object for row after row; a row without an
// expression must not inherit the previous row's.
TEST_F(SqlRecordExpressions, ReloadReplacesOrDropsTheCompiledExpression) {
    CSqlDirectoryEntitySet withRegEx;
    withRegEx.SetDirectoryRegEx(wxT("^/opt/[^/]*$"));
    ASSERT_TRUE(withRegEx.SQLInsert(*m_db));
    CSqlDirectoryEntitySet otherRegEx;
    otherRegEx.SetDirectoryRegEx(wxT("^/srv/[^/]*$"));
    ASSERT_TRUE(otherRegEx.SQLInsert(*m_db));
    CSqlDirectoryEntitySet without;
    without.SetDirectorySearchBase(wxT("/etc"));
    ASSERT_TRUE(without.SQLInsert(*m_db));

    CSqlDirectoryEntitySet reader;
    ASSERT_TRUE(LoadById(reader, withRegEx.m_entitySetId));
    ASSERT_NE(reader.GetSearchRegEx(), nullptr);
    EXPECT_TRUE(reader.GetSearchRegEx()->Matches(wxT("/opt/x")));
    ASSERT_TRUE(LoadById(reader, otherRegEx.m_entitySetId));
    ASSERT_NE(reader.GetSearchRegEx(), nullptr);
    EXPECT_FALSE(reader.GetSearchRegEx()->Matches(wxT("/opt/x")));
    EXPECT_TRUE(reader.GetSearchRegEx()->Matches(wxT("/srv/x")));
    ASSERT_TRUE(LoadById(reader, without.m_entitySetId));
    EXPECT_EQ(reader.GetSearchRegEx(), nullptr);
    EXPECT_EQ(reader.GetSearchBase(), wxT("/etc"));

    ASSERT_TRUE(LoadById(reader, withRegEx.m_entitySetId));
    reader.SetToDefaults();
    EXPECT_EQ(reader.GetSearchRegEx(), nullptr);
}

// Registry paths compare without case on every host.
TEST_F(SqlRecordExpressions, RegistrySetsIgnoreCase) {
    CSqlRegistryKeyEntitySet keySet;
    keySet.SetRegistryKey(wxT("HKLM/Software/*"));
    keySet.SetRegistryKeySearchBase(wxT("hklm/software"));
    keySet.SetRegistryKeyRegEx(wxT("^hklm/software/[^/]*$"));
    ASSERT_TRUE(keySet.SQLInsert(*m_db));
    CSqlRegistryValueEntitySet valueSet;
    valueSet.SetRegistryKeySearchBase(wxT("hkcu"));
    valueSet.SetRegistryKeyRegEx(wxT("^hkcu/run$"));
    ASSERT_TRUE(valueSet.SQLInsert(*m_db));

    CSqlRegistryKeyEntitySet loadedKeys;
    ASSERT_TRUE(LoadById(loadedKeys, keySet.m_entitySetId));
    EXPECT_EQ(loadedKeys.m_registryKey, wxT("HKLM/Software/*"));
    EXPECT_EQ(loadedKeys.GetSearchBase(), wxT("hklm/software"));
    ASSERT_NE(loadedKeys.GetSearchRegEx(), nullptr);
    EXPECT_TRUE(loadedKeys.GetSearchRegEx()->Matches(wxT("HKLM/SOFTWARE/Vendor")));
    EXPECT_FALSE(loadedKeys.GetSearchRegEx()->Matches(wxT("HKLM/SOFTWARE/Vendor/Sub")));
    CSqlRegistryValueEntitySet loadedValues;
    ASSERT_TRUE(LoadById(loadedValues, valueSet.m_entitySetId));
    ASSERT_NE(loadedValues.GetSearchRegEx(), nullptr);
    EXPECT_TRUE(loadedValues.GetSearchRegEx()->Matches(wxT("HKCU/Run")));
}

// Exposes the raw registrations, which EnumAttributes filters.
class FileSetRegistrations : public CSqlFileEntitySet {
public:
    int Count(const wxString& name) const {
        int count = 0;
        for (const Attribute& attribute : m_attributes) count += attribute.name == name ? 1 : 0;
        return count;
    }
};

TEST(SqlIncludeExcludePatternTokenize, SplitsAtSeparatorsWithoutEmptyPieces) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"/etc//ssh/**/x", {"etc", "ssh", "**", "x"}}, {"etc/ssh", {"etc", "ssh"}}, {"//a//b//", {"a", "b"}},
        {"*.conf", {"*.conf"}}, {"/", {}}, {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        wxArrayString pieces;
        CSqlIncludeExcludePattern::Tokenize(wxString::FromUTF8(c.first), wxT("/"), pieces);
        EXPECT_EQ(Strings(pieces), c.second);
    }
}

// caseSensitive 2 (and anything but 0 or 1) follows the host's file names.
TEST(SqlIncludeExcludePatternCase, FlagAndHostRuleDecideWhetherCaseIsIgnored) {
    struct Case {
        int caseSensitive;
        bool hostCaseSensitive;
        bool ignoresCase;
    };
    const std::vector<Case> cases = {
        {0, true, true},  {1, true, false},  {2, true, false}, {-1, true, false},
        {0, false, true}, {1, false, false}, {2, false, true}, {7, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.caseSensitive << (c.hostCaseSensitive ? " sensitive host" : " insensitive host"));
        EXPECT_EQ(CSqlIncludeExcludePattern::IgnoresCase(c.caseSensitive, c.hostCaseSensitive),
                  c.ignoresCase);
    }
}

class SqlIncludeExcludePatternLoad : public KvoTest::RecordDbFixture {
protected:
    long long InsertPattern(const wxString& pattern, const wxString& regEx, const int* caseSensitive) {
        CSqlIncludeExclude include;
        include.m_entityType = wxT("File");
        include.SetAttributeNull(&include.m_entityType, false);
        EXPECT_TRUE(include.SQLInsert(*m_db));
        CSqlPattern row;
        row.m_includeExcludeId = include.m_includeExcludeId;
        row.m_pattern = pattern;
        row.m_regExPattern = regEx;
        row.SetAttributeNull(&row.m_includeExcludeId, false);
        row.SetAttributeNull(&row.m_pattern, false);
        row.SetAttributeNull(&row.m_regExPattern, false);
        if (caseSensitive != nullptr) {
            row.m_caseSensitive = *caseSensitive;
            row.SetAttributeNull(&row.m_caseSensitive, false);
        }
        EXPECT_TRUE(row.SQLInsert(*m_db));
        return include.m_includeExcludeId;
    }

    std::unique_ptr<CSqlIncludeExcludePatterns> Load(long long includeExcludeId) {
        auto patterns = std::make_unique<CSqlIncludeExcludePatterns>();
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
            "SELECT * FROM [IncludeExcludePatterns] WHERE [includeExcludeId]=%lld", includeExcludeId));
        EXPECT_TRUE(patterns->SQLLoad(rows));
        return patterns;
    }
};

TEST_F(SqlIncludeExcludePatternLoad, PathComponentsAndExpressionComeWithEveryRow) {
    const int host = 2;
    const long long id = InsertPattern(wxT("/etc//ssh/**/x"), wxT("^etc/ssh/(.*/)?x$"), &host);
    CSqlPattern second;
    second.m_includeExcludeId = id;
    second.m_pattern = wxT("var/(broken");
    second.m_regExPattern = wxT("^var/(broken$");
    second.SetAttributeNull(&second.m_includeExcludeId, false);
    second.SetAttributeNull(&second.m_pattern, false);
    second.SetAttributeNull(&second.m_regExPattern, false);
    ASSERT_TRUE(second.SQLInsert(*m_db));

    wxSQLite3ResultSet rows = m_db->ExecuteQuery(
        wxString::Format("SELECT * FROM [IncludeExcludePatterns] WHERE [includeExcludeId]=%lld", id));
    // One object reading both rows: the second row's components replace the first's.
    CSqlIncludeExcludePattern reader;
    ASSERT_TRUE(rows.NextRow());
    ASSERT_TRUE(reader.SQLLoad(rows));
    EXPECT_EQ(Strings(reader.GetPathComponents()), (std::vector<std::string>{"etc", "ssh", "**", "x"}));
    ASSERT_NE(reader.GetRegEx(), nullptr);
    EXPECT_TRUE(reader.GetRegEx()->Matches(wxT("etc/ssh/a/b/x")));
    ASSERT_TRUE(rows.NextRow());
    ASSERT_TRUE(reader.SQLLoad(rows));
    EXPECT_EQ(Strings(reader.GetPathComponents()), (std::vector<std::string>{"var", "(broken"}));
    EXPECT_EQ(reader.GetRegEx(), nullptr) << "an expression that does not compile is dropped";

    reader.SetToDefaults();
    EXPECT_TRUE(reader.GetPathComponents().IsEmpty());
}

}  // namespace
