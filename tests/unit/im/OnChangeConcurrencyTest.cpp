// Notifications from several threads while Update moves settled changes into
// si.db: every change arrives there exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/hmd/HostMetaData.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"
#include "tests/unit/im/RuleStorageFixture.h"

namespace {

class OnChangeConcurrencyTest : public KvoTest::RuleStorageFixture {};

TEST_F(OnChangeConcurrencyTest, ChangesFromManyThreadsAreMovedOnceEach) {
    Store(R"(<IntegrityRule id="1" name="oc" allowOnChange="true"><FileSet base="/oc"><Include key="*"/></FileSet>
             </IntegrityRule>)");
    // Settle time 0: whatever is cached moves at the next Update.
    KvoPluginIm::CSystemIntegrityOnChangeThread onChange(*m_dom, 0, 60000);
    onChange.Open();
    constexpr int kThreads = 4, kChanges = 150;
    std::atomic<int> writing{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kChanges; ++i) {
                const KvoCore::CHostMetaData file("File", wxString::Format("/oc/t%d-%d", t, i));
                EXPECT_TRUE(onChange.OnEntityChanged(file, 1, 0, "u", nullptr, nullptr));
            }
            --writing;
        });
    threads.emplace_back([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline &&
               (writing > 0 || Value("SELECT COUNT(*) FROM ChangeDetails") != std::to_string(kThreads * kChanges))) {
            onChange.Update();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (auto& thread : threads) thread.join();
    const int expected = kThreads * kChanges;
    EXPECT_EQ(std::to_string(expected), Value("SELECT COUNT(*) FROM ChangeDetails"));
    EXPECT_EQ(std::to_string(expected), Value("SELECT COUNT(DISTINCT keyCanonical) FROM RealtimeChangeDetails"));
    EXPECT_EQ(std::to_string(expected), Value("SELECT COUNT(*) FROM RealtimeChanges"));
    EXPECT_GE(Raised("zel.im.OnChangeDataAvailable"), 1);
}

}  // namespace
