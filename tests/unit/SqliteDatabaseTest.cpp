// Opening and sharing a connection: file modes, refusals that leave nothing
// behind, concurrent writers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <tuple>
#include <thread>

#include "tests/unit/SqliteTestSupport.h"

namespace {

using KvoTest::Scalar;
using KvoTest::Text;

bool Exists(const wxString& path) {
    struct stat status;
    return ::lstat(path.fn_str(), &status) == 0;
}

int ModeOf(const wxString& path) {
    struct stat status;
    return ::stat(path.fn_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

class SqliteDatabaseTest : public KvoTest::SqliteFixture {};

TEST_F(SqliteDatabaseTest, NewFileAndItsJournalFilesArePrivateWhateverTheUmask) {
    const mode_t previous = ::umask(0);
    auto db = OpenDb();
    ::umask(previous);
    ASSERT_TRUE(db->IsOpenDb());
    db->ExecuteUpdate("INSERT INTO [Scans]([scanId]) VALUES(1)");
    for (const char* name : {"si.db", "si.db-wal", "si.db-shm"}) EXPECT_EQ(ModeOf(Path(name)), 0600) << name;
    EXPECT_EQ(db->GetPath(), Path("si.db"));
}

TEST_F(SqliteDatabaseTest, OpenAppliesSyncAndJournalModesAndConnectionSettings) {
    for (const auto& [sync, journal] : {std::pair<int, std::string>{0, "wal"}, {3, "TRUNCATE"}}) {
        auto db = NewDb();
        ASSERT_TRUE(db->Open(Path("db" + journal), sync, journal));
        EXPECT_EQ(Text(*db, "PRAGMA journal_mode"), wxString(journal).Lower().ToStdString());
        EXPECT_EQ((std::vector<long long>{sync, 1, 0}),
                  (std::vector<long long>{Scalar(*db, "PRAGMA synchronous"), Scalar(*db, "PRAGMA recursive_triggers"),
                                          Scalar(*db, "PRAGMA foreign_keys")}));
        EXPECT_GE(Scalar(*db, "PRAGMA busy_timeout"), 10000);
    }
}

TEST_F(SqliteDatabaseTest, RefusalsAreLoggedWithFileAndReasonAndLeaveNothingBehind) {
    const std::tuple<std::string, int, const char*, const char*> cases[] = {
        {"missing/si.db", 1, "WAL", "No such file or directory"},
        {"badjournal.db", 1, "FAST", "journal mode"},
        {"badsync.db", 4, "WAL", "synchronous"},
    };
    for (const auto& [file, sync, journal, reason] : cases) {
        auto db = NewDb();
        EXPECT_FALSE(db->Open(Path(file), sync, journal, true) || db->IsOpenDb() || !db->GetPath().empty()) << file;
        const std::string log = LogText();
        const size_t line = log.find("'" + Path(file).ToStdString() + "'");
        ASSERT_NE(line, std::string::npos) << log;
        EXPECT_NE(log.find(reason, line), std::string::npos) << log;
        EXPECT_FALSE(Exists(Path(file)) || Exists(Path(file + "-wal")) || Exists(Path(file + "-shm"))) << file;
    }
    EXPECT_FALSE(Exists(Path("missing")));
    EXPECT_FALSE(NewDb()->OpenIntegrityDb(wxString(), KvoCore::DbAccess::ReadWrite));
}

TEST_F(SqliteDatabaseTest, AFileCreatedForAFailedOpenIsRemovedAgain) {
    // SQLite can open the new file but not its shared-memory index, so the
    // failure comes after the file was made.
    ASSERT_EQ(::mkdir(Path("half.db-shm").fn_str(), 0700), 0);
    auto db = NewDb();
    EXPECT_FALSE(db->OpenIntegrityDb(Path("half.db"), KvoCore::DbAccess::ReadWrite));
    EXPECT_FALSE(db->IsOpenDb());
    EXPECT_FALSE(Exists(Path("half.db")));
    EXPECT_FALSE(Exists(Path("half.db-wal")));
    EXPECT_NE(LogText().find("'" + Path("half.db").ToStdString() + "'"), std::string::npos);
}

TEST_F(SqliteDatabaseTest, ReadOnlyConnectionReadsButCannotWrite) {
    auto writer = OpenDb();
    writer->ExecuteUpdate("INSERT INTO [Scans]([scanId],[startTime]) VALUES(1,100)");
    auto reader = NewDb();
    ASSERT_TRUE(reader->OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadOnly));
    EXPECT_TRUE(reader->IsReadOnlyDb());
    reader->Begin();  // deferred on a read-only connection
    EXPECT_EQ(Scalar(*reader, "SELECT [startTime] FROM [Scans]"), 100);
    reader->Commit();
    EXPECT_THROW(reader->ExecuteUpdate("INSERT INTO [Scans]([scanId]) VALUES(2)"), wxSQLite3Exception);
    EXPECT_EQ(Scalar(*writer, "SELECT COUNT(*) FROM [Scans]"), 1);
}

// Another process that opens and closes the file must find it in use: were
// this process's locks lost, that process would fold the write-ahead log back
// and delete it under the open connections.
TEST_F(SqliteDatabaseTest, OpeningAnotherConnectionKeepsTheLocksOfTheOpenOnes) {
    auto writer = OpenDb();
    writer->ExecuteUpdate("INSERT INTO [Scans]([scanId],[startTime]) VALUES(1,100)");
    ASSERT_TRUE(Exists(Path("si.db-wal")));
    for (bool readOnly : {true, false}) {
        auto other = NewDb();
        ASSERT_TRUE(other->OpenIntegrityDb(Path("si.db"), readOnly ? KvoCore::DbAccess::ReadOnly : KvoCore::DbAccess::ReadWrite));
        other->Close();
    }
    const wxString command = "sqlite3 '" + Path("si.db") + "' 'SELECT COUNT(*) FROM [Scans];' >/dev/null";
    ASSERT_EQ(system(command.utf8_str()), 0);
    EXPECT_TRUE(Exists(Path("si.db-wal")));
    EXPECT_EQ(Scalar(*writer, "SELECT [startTime] FROM [Scans]"), 100);
}

// A file still in rollback mode while another connection writes: the switch to
// WAL waits for that writer instead of failing the open.
TEST_F(SqliteDatabaseTest, SwitchToWalWaitsForAWriterInRollbackMode) {
    wxSQLite3Database writer;
    writer.Open(Path("rollback.db"));
    writer.SetBusyTimeout(10000);
    writer.ExecuteUpdate("CREATE TABLE [t]([x])");
    writer.Begin(WXSQLITE_TRANSACTION_IMMEDIATE);
    writer.ExecuteUpdate("INSERT INTO [t] VALUES(1)");
    std::thread commitLater([&writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        writer.Commit();
    });
    auto db = NewDb();
    const bool opened = db->OpenIntegrityDb(Path("rollback.db"), KvoCore::DbAccess::ReadWrite);
    commitLater.join();
    ASSERT_TRUE(opened) << db->GetOpenError();
    EXPECT_EQ(Text(*db, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM [t]"), 1);
}

off_t SizeOf(const wxString& path) {
    struct stat status;
    return ::stat(path.fn_str(), &status) == 0 ? status.st_size : -1;
}

// A reader of an old snapshot keeps the write-ahead log from being rewound;
// once it is gone, the log must be checkpointed and reused again rather than
// grow for as long as the writer writes.
TEST_F(SqliteDatabaseTest, TheLogIsReusedAgainOnceAnOldSnapshotIsLetGo) {
    auto writer = OpenDb();
    auto reader = OpenDb();
    writer->ExecuteUpdate("CREATE TABLE [Filler]([b] BLOB)");
    auto write = [&writer](int commits) {
        for (int i = 0; i < commits; ++i) {
            writer->Begin();
            // About ten pages a commit.
            writer->ExecuteUpdate("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<10) "
                                  "INSERT INTO [Filler] SELECT randomblob(3900) FROM n");
            writer->Commit();
        }
    };
    reader->Begin(WXSQLITE_TRANSACTION_DEFERRED);
    EXPECT_EQ(Scalar(*reader, "SELECT COUNT(*) FROM [Filler]"), 0);
    write(300);
    reader->Commit();
    const off_t pinned = SizeOf(Path("si.db-wal"));
    ASSERT_GT(pinned, 3000 * 4096);
    write(600);
    // Checkpoints are tried once per thousand frames (a frame: a page and its header).
    EXPECT_LT(SizeOf(Path("si.db-wal")), pinned + 1100 * (4096 + 24));
    EXPECT_EQ(Scalar(*reader, "SELECT COUNT(*) FROM [Filler]"), 9000);
}

// The control thread, scanners and the real-time object write the same file.
// Both threads open a file that does not exist yet, so they also race to
// create it and its schema, then each runs read-then-write transactions.
TEST_F(SqliteDatabaseTest, ConcurrentWritersNeverFailOnTheLock) {
    const int kThreads = 3, kRounds = 150;
    std::atomic<int> ready{0};
    std::vector<std::string> errors(kThreads);
    auto writer = [&](int index) {
        try {
            auto db = NewDb();
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            if (!db->OpenIntegrityDb(Path("shared.db"), KvoCore::DbAccess::ReadWrite)) throw std::runtime_error("open failed");
            for (int round = 0; round < kRounds; ++round) {
                db->Begin();
                // Next id read inside the transaction: lost updates would collide on the key.
                const long long next = Scalar(*db, "SELECT COALESCE(MAX([scanId]),0)+1 FROM [Scans]");
                db->ExecuteUpdate(wxString::Format("INSERT INTO [Scans]([scanId],[incrementalScan]) VALUES(%lld,%d)",
                                                   next, index));
                db->Commit();
            }
        } catch (const wxSQLite3Exception& e) {
            errors[index] = e.GetMessage().ToStdString();
        } catch (const std::exception& e) {
            errors[index] = e.what();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back(writer, i);
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(errors[i], "") << "thread " << i;

    auto db = OpenDb("shared.db");
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM [Scans]"), kThreads * kRounds);
    EXPECT_EQ(Scalar(*db, "SELECT MAX([scanId]) FROM [Scans]"), kThreads * kRounds);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(Scalar(*db, wxString::Format("SELECT COUNT(*) FROM [Scans] WHERE [incrementalScan]=%d", i)), kRounds);
}

}  // namespace
