// HASH(value, method) as the scanners use it: a digest of an entity's ordered
// attribute values that changes whenever the list of values changes.
#include "tests/unit/SqliteTestSupport.h"

namespace {

using KvoTest::Scalar;
using KvoTest::Text;

class HashAggregateTest : public KvoTest::SqliteFixture {
protected:
    void SetUp() override {
        SqliteFixture::SetUp();
        if (HasFatalFailure()) return;
        m_db = OpenDb();
        m_db->ExecuteUpdate("CREATE TEMP TABLE v([g] INTEGER, [n] INTEGER, [x])");
    }
    void TearDown() override {
        m_db.reset();
        SqliteFixture::TearDown();
    }

    // Hex of HASH over the SQL values listed (as SQL literals), in that order.
    std::string HashOf(const std::vector<std::string>& values, const std::string& method = "sha1", int group = 0) {
        int n = 0;
        for (const std::string& value : values)
            m_db->ExecuteUpdate(wxString::Format("INSERT INTO v VALUES(%d,%d,%s)", group, n++, value));
        const std::string hex = Text(*m_db, wxString::Format("SELECT lower(hex(HASH([x],'%s'))) FROM "
                                                             "(SELECT [x] FROM v WHERE [g]=%d ORDER BY [n])",
                                                             method, group));
        m_db->ExecuteUpdate(wxString::Format("DELETE FROM v WHERE [g]=%d", group));
        return hex;
    }

    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
};

// The digests are stored in Entitys.attributeHash and compared across agent
// versions, so the framing is pinned here byte for byte.
TEST_F(HashAggregateTest, DigestsOfKnownInputsArePinned) {
    struct Case {
        std::vector<std::string> values;
        std::string method;
        std::string hex;
    };
    const Case cases[] = {
        {{"'a'"}, "sha1", "e507902e6e08c41e5708d4e5d44df9a7edc76da4"},
        {{"'ab'", "NULL", "''"}, "sha256", "752fb0118d75762a534e5b07380473db601f451e2bb2d45101b3b995f51e2b01"},
        {{"'x'"}, "md5", "acf6d73ff6761f5b52a8067d2dffbb43"},
        {{"'x'"}, "MD5", "acf6d73ff6761f5b52a8067d2dffbb43"},
        {{"'a'"}, "Sha1", "e507902e6e08c41e5708d4e5d44df9a7edc76da4"},
    };
    for (const Case& c : cases) EXPECT_EQ(HashOf(c.values, c.method), c.hex) << c.method;
    EXPECT_EQ(Text(*m_db, "SELECT typeof(HASH([x],'sha1')) FROM v"), "null") << "no rows, no digest";
    // Not the plain digest of the concatenated values.
    EXPECT_NE(HashOf({"'a'", "'b'", "'c'"}), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST_F(HashAggregateTest, DifferentValueListsGiveDifferentDigests) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> pairs[] = {
        {{"'ab'", "'c'"}, {"'a'", "'bc'"}},
        {{"NULL"}, {"''"}},
        {{"NULL", "NULL"}, {"NULL"}},
        {{"''", "''"}, {"''"}},
        {{"'a'", "'b'"}, {"'b'", "'a'"}},
        {{"'N'"}, {"NULL"}},
        {{"'a'", "NULL"}, {"NULL", "'a'"}},
    };
    for (const auto& [left, right] : pairs) {
        const std::string a = HashOf(left), b = HashOf(right);
        EXPECT_EQ(a.size(), 40u);
        EXPECT_NE(a, b) << ::testing::PrintToString(left) << " vs " << ::testing::PrintToString(right);
    }
}

TEST_F(HashAggregateTest, AValueHashesAsItsBytesWhateverItsType) {
    EXPECT_EQ(HashOf({"5"}), HashOf({"'5'"}));
    EXPECT_EQ(HashOf({"x'6162'"}), HashOf({"'ab'"}));
    // Bytes beyond a NUL and beyond the size of a small buffer take part.
    EXPECT_NE(HashOf({"x'610062'"}), HashOf({"x'610063'"}));
    EXPECT_NE(HashOf({"zeroblob(100000)||'a'"}), HashOf({"zeroblob(100000)||'b'"}));
}

TEST_F(HashAggregateTest, UnknownMethodIsAnSqlError) {
    m_db->ExecuteUpdate("INSERT INTO v VALUES(0,0,'a')");
    for (const char* method : {"'sha512x'", "NULL"})
        EXPECT_THROW(m_db->ExecuteQuery(wxString::Format("SELECT HASH([x],%s) FROM v", method)).NextRow(),
                     wxSQLite3Exception)
            << method;
    // The connection stays usable afterwards.
    EXPECT_EQ(Scalar(*m_db, "SELECT length(HASH([x],'sha1')) FROM v"), 20);
}

}  // namespace
