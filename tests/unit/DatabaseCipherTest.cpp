// Encrypted databases: what a key writes reads back the same through a plain
// copy, the disk never holds the content in plain text, and a process killed
// in the middle of a write leaves a file that opens whole.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <tuple>

#include "core/DatabaseKey.h"
#include "tests/unit/SqliteTestSupport.h"

namespace {

using KvoCore::CDatabaseKey;
using KvoCore::DbCipher;
using KvoTest::Scalar;
using KvoTest::Text;

const char kMarker[] = "/etc/monitored/secret-path";

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

bool HoldsMarker(const wxString& path) {
    return Shell("grep -q -a -F '" + std::string(kMarker) + "' '" + path.ToStdString() + "' 2>/dev/null && echo found") != "";
}

class DatabaseCipherTest : public KvoTest::SqliteFixture {
protected:
    std::unique_ptr<KvoCore::CSqliteDatabase> Open(const std::string& name, const CDatabaseKey& key,
                                                   const char* = "") {
        auto db = NewDb();
        db->SetKey(key);
        db->SetCreatesSchema(false);
        EXPECT_TRUE(db->Open(Path(name), 1, ""));
        return db;
    }

    // Rows enough for interior pages, overflow pages and an index.
    // A log fixes the page size: the size comes first.
    static void Fill(wxSQLite3Database& db, int pageSize, const char* journal, int from, int to) {
        db.ExecuteUpdate(wxString::Format("PRAGMA page_size=%d", pageSize));
        db.ExecuteQuery(wxString::Format("PRAGMA journal_mode=%s", journal)).Finalize();
        db.ExecuteUpdate("CREATE TABLE IF NOT EXISTS t(k TEXT, v BLOB)");
        db.ExecuteUpdate("CREATE INDEX IF NOT EXISTS tk ON t(k)");
        db.Begin();
        for (int i = from; i < to; ++i)
            db.ExecuteUpdate(wxString::Format("INSERT INTO t VALUES('%s/%d', zeroblob(%d))", kMarker, i, i * 37 % 9000));
        db.Commit();
    }

    std::string PlainDump(KvoCore::CSqliteDatabase& db, const std::string& name) {
        db.Backup(Path(name), wxString(), "main");
        return Shell("sqlite3 '" + Path(name).ToStdString() + "' .dump");
    }
};

TEST_F(DatabaseCipherTest, WhatAKeyWritesReadsBackTheSameAndIsNeverOnDiskInPlainText) {
    for (const DbCipher cipher : {DbCipher::Aes128, DbCipher::Aes256})
        for (const bool whole : {false, true})
            for (const int pageSize : {1024, 4096, 65536})
                for (const char* journal : {"DELETE", "WAL"}) {
                    const std::string name = wxString::Format("%d-%d-%d-%s.db", int(cipher), whole, pageSize, journal).ToStdString();
                    SCOPED_TRACE(name);
                    CDatabaseKey key(cipher, "round trip");
                    key.SetEncryptsWholeFirstPage(whole);
                    auto db = Open(name, key, journal);
                    db->ExecuteUpdate("PRAGMA wal_autocheckpoint=0");
                    Fill(*db, pageSize, journal, 0, 300);
                    db->ExecuteUpdate("UPDATE t SET v=zeroblob(10) WHERE rowid % 3 = 0");
                    for (const char* file : {"", "-wal", "-journal"}) EXPECT_FALSE(HoldsMarker(Path(name + file))) << file;
                    const std::string copy = PlainDump(*db, name + ".plain");
                    db->Close();
                    EXPECT_NE(Shell("sqlite3 '" + Path(name).ToStdString() + "' .dump 2>&1").find("not a database"), std::string::npos);

                    auto plain = Open(name + ".reference", CDatabaseKey(), journal);
                    Fill(*plain, pageSize, journal, 0, 300);
                    plain->ExecuteUpdate("UPDATE t SET v=zeroblob(10) WHERE rowid % 3 = 0");
                    auto again = Open(name, key, journal);
                    ASSERT_TRUE(again->IsOpenDb() && again->IsEncrypted());
                    EXPECT_EQ(Scalar(*again, "PRAGMA page_size"), pageSize);
                    // A sort larger than the cache spills to temporary files.
                    const char* sorted = "SELECT group_concat(k) FROM (SELECT k, v FROM t ORDER BY v DESC, k)";
                    again->ExecuteUpdate("PRAGMA cache_size=2");
                    EXPECT_EQ(Text(*again, sorted), Text(*plain, sorted));
                    EXPECT_EQ(PlainDump(*again, name + ".again"), PlainDump(*plain, name + ".plain2"));
                    EXPECT_EQ(copy, PlainDump(*plain, name + ".plain3"));
                }
}

TEST_F(DatabaseCipherTest, AWrongKeyOrCipherOrAPlainFileIsNotADatabaseAndStaysUntouched) {
    const CDatabaseKey key(DbCipher::Aes256, "right");
    Open("enc.db", key, "DELETE")->ExecuteUpdate("CREATE TABLE t(x)");
    Open("plain.db", CDatabaseKey(), "DELETE")->ExecuteUpdate("CREATE TABLE t(x)");
    const std::tuple<std::string, CDatabaseKey> cases[] = {
        {"enc.db", CDatabaseKey(DbCipher::Aes256, "wrong")},
        {"enc.db", CDatabaseKey(DbCipher::Aes128, "right")},
        {"plain.db", key},
    };
    for (const auto& [name, wrong] : cases) {
        const std::string before = Shell("sha256sum < '" + Path(name).ToStdString() + "'");
        auto db = NewDb();
        db->SetKey(wrong);
        EXPECT_FALSE(db->Open(Path(name), 1, "WAL"));
        EXPECT_NE(db->GetOpenError().Find("file is not a database"), wxNOT_FOUND) << db->GetOpenError();
        EXPECT_EQ(before, Shell("sha256sum < '" + Path(name).ToStdString() + "'"));
    }
}

TEST_F(DatabaseCipherTest, KilledInTheMiddleOfAWriteItOpensWholeWithWhatWasCommitted) {
    for (const char* journal : {"DELETE", "WAL"}) {
        SCOPED_TRACE(journal);
        const std::string name = std::string("killed-") + journal + ".db";
        const CDatabaseKey key(DbCipher::Aes128, "kill");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            auto db = Open(name, key, journal);
            db->ExecuteUpdate("PRAGMA cache_size=5");  // the open transaction spills pages to disk
            Fill(*db, 4096, journal, 0, 200);
            db->Begin();
            for (int i = 0; i < 2000; ++i) db->ExecuteUpdate("INSERT INTO t VALUES('pending', randomblob(500))");
            (void)!::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        char byte;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        for (const char* file : {"-wal", "-journal"}) EXPECT_FALSE(HoldsMarker(Path(name + file))) << file;
        auto db = Open(name, key, journal);
        ASSERT_TRUE(db->IsOpenDb());
        EXPECT_EQ(Text(*db, "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM t"), 200);
    }
}

}  // namespace
