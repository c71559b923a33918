// The file scanner's content and size attributes: digests against the
// system's digest tools, the FIPS rule for md5, the size trend between scans,
// the wait on content that never arrives, and a file replaced before it is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "plugins/im/SystemIntegrityFileScannerThread.h"
#include "plugins/im/FileReadContext.h"
#include "plugins/im/SqlSubscan.h"
#include "tests/unit/im/FileScannerFixture.h"

namespace {

using KvoPluginIm::CSystemIntegrityThread;
using KvoTest::FileScannerFixture;

class FileScannerContentTest : public FileScannerFixture {};

TEST_F(FileScannerContentTest, DigestsMatchTheSystemToolsAndMd5IsWithheldInFipsMode) {
    std::string big(1300000, '\0');  // spans three read windows
    std::mt19937 random(7);
    for (char& c : big) c = static_cast<char>(random());
    WriteTreeFile("z-big.bin", big);  // after the first key: read ahead
    WriteTreeFile("small.txt", "small\n");
    WriteTreeFile("empty", "");
    StoreSet("<FileSet base=\"" + m_tree +
             "\"><Include key=\"*\"/><Attributes><md5/><sha1/><sha256/><size/></Attributes></FileSet>");

    for (int fips : {0, 1}) {
        CSystemIntegrityThread::SetFipsModeForTesting(fips);
        RunScan("File");
        ASSERT_TRUE(m_lastFinished);
        for (const char* file : {"z-big.bin", "small.txt", "empty"}) {
            const std::string path = "'" + TreePath(file) + "'";
            EXPECT_EQ(fips ? "none" : FirstWord("md5sum " + path), Attribute(file, "md5")) << file;
            EXPECT_EQ(FirstWord("sha1sum " + path), Attribute(file, "sha1")) << file;
            EXPECT_EQ(FirstWord("sha256sum " + path), Attribute(file, "sha256")) << file;
        }
        EXPECT_EQ("1300000", Attribute("z-big.bin", "size"));
    }
}

TEST_F(FileScannerContentTest, GrowingAndShrinkingCompareWithThePreviousScan) {
    StoreSet("<FileSet base=\"" + m_tree +
             "\"><Include key=\"*\"/><Attributes><growing/><shrinking/></Attributes></FileSet>");
    struct Step {
        const char* content;
        int scanType;
        const char* growing;
        const char* shrinking;
    };
    const Step steps[] = {
        {"1234", 0, "true", "true"},  // nothing to compare with
        {"123456", 1, "true", "false"},
        // The same verdicts: the current version stays, with the newest size behind them.
        {"12345678", 1, "true", "false"},
        {"1234567", 1, "false", "true"},
    };
    for (const Step& step : steps) {
        WriteTreeFile("log", step.content);
        RunScan("File", step.scanType);
        ASSERT_TRUE(m_lastFinished);
        EXPECT_EQ(step.growing, Attribute("log", "growing")) << step.content;
        EXPECT_EQ(step.shrinking, Attribute("log", "shrinking")) << step.content;
    }
}

TEST_F(FileScannerContentTest, StreamedReadGivesUpOnContentThatNeverArrives) {
    const std::string fifo = TreePath("pipe");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int writer = open(fifo.c_str(), O_WRONLY);  // held open, never written
    ASSERT_GE(writer, 0);
    auto* subscan = new KvoPluginIm::CSqlSubscan();
    subscan->m_entityType = "File";
    KvoPluginIm::CFileIntegrityScanThread scanner(*m_dom, subscan);
    std::vector<unsigned char> buffer(KvoPluginIm::CFileIntegrityScanThread::s_StreamChunk);
    // The context the hooks own, over a descriptor that reports no size.
    struct stat examined;
    ASSERT_EQ(0, fstat(reader, &examined));
    auto* context = new KvoPluginIm::FileReadContext(reader, 0, examined, buffer);
    const unsigned long handle = reinterpret_cast<unsigned long>(context);

    void* data = nullptr;
    unsigned long length = 0;
    EXPECT_FALSE(scanner.OnReadContent(wxString::FromUTF8(fifo), handle, 0, data, length));
    EXPECT_TRUE(scanner.OnReadContentEnd(wxString::FromUTF8(fifo), handle));
    close(writer);

    EXPECT_EQ(nullptr, data);
    EXPECT_NE(std::string::npos, LogText().find("Timed out after 10 seconds waiting for data on " + fifo));
}

// The surface cannot time a rename between the scanner's lstat and its open.
TEST_F(FileScannerContentTest, FileReplacedAfterItsStatusWasReadGivesNoDigest) {
    struct Probe : KvoPluginIm::CFileIntegrityScanThread {
        using CFileIntegrityScanThread::CFileIntegrityScanThread;
        // True when a digest came from the file put in place of the examined one.
        bool HashesReplacement(const std::string& path, const std::string& replacement) {
            ReadEntityState(wxString::FromUTF8(path), true);
            if (rename(replacement.c_str(), path.c_str()) != 0) return true;
            return HashContent(wxString::FromUTF8(path), false, false, true) || !m_sha256.empty();
        }
    };
    WriteTreeFile("examined", "the file whose status was read");
    WriteTreeFile("replacement", "the file renamed over it");
    auto* subscan = new KvoPluginIm::CSqlSubscan();
    subscan->m_entityType = "File";
    Probe scanner(*m_dom, subscan);
    EXPECT_FALSE(scanner.HashesReplacement(TreePath("examined"), TreePath("replacement")));
}

}  // namespace
