// Fixture of the key matching tests: rules stored through the rule storage
// into a real si.db, and each set's rows read back the way scanners read them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/SqliteDatabase.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"
#include "plugins/im/SqlIncludeExcludePattern.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"
#include "tests/unit/im/NameKeyMatch.h"
#include "tests/unit/im/PathKeyMatch.h"
#include "tests/unit/im/RuleStorageFixture.h"

namespace KvoTest {

// The rows of one stored entity set, as the matcher takes them.
struct StoredSet {
    std::unique_ptr<KvoCore::XMLObjectList> sets;
    const KvoPluginIm::CSqlEntitySet* set = nullptr;
    KvoPluginIm::CSqlIncludeExcludeFeatures features;
    KvoPluginIm::CSqlIncludeExcludePatterns patterns;
    KvoCore::Int64Set ids;
};

class KeyMatchFixture : public RuleStorageFixture {
protected:
    // Loads every set of the list's kind; the set with the given position
    // (in entitySetId order) gets its includes and excludes.
    template <typename TList>
    void Load(StoredSet& stored, const wxString& entityType, size_t position = 0) {
        KvoCore::CSqliteDatabase db(*m_dom, "test");
        ASSERT_TRUE(db.OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
        auto sets = std::make_unique<TList>();
        sets->SQLLoad(db);
        ASSERT_LT(position, sets->size());
        stored.set = &sets->at(position);
        ASSERT_TRUE(KvoPluginIm::CSystemIntegrityKeyMatch::GetFeatures(db, entityType, stored.set->m_entitySetId,
                                                                      stored.features));
        ASSERT_TRUE(KvoPluginIm::CSystemIntegrityKeyMatch::GetPatterns(db, entityType, stored.set->m_entitySetId,
                                                                      stored.patterns));
        KvoPluginIm::CSystemIntegrityKeyMatch::GetUniqueIncludeExcludeIds(stored.features, stored.patterns,
                                                                         stored.ids);
        stored.sets = std::move(sets);
        db.Close();
    }
    void LoadFileSet(StoredSet& stored, size_t position = 0) {
        Load<KvoPluginIm::CSqlFileEntitySets>(stored, wxT("File"), position);
    }

    static bool Matches(const KvoPluginIm::CSystemIntegrityKeyMatch& matcher, const StoredSet& stored,
                        const std::string& key, int& reason) {
        reason = -1;
        return matcher.EntityMatches(stored.set->GetSearchBase(), wxString::FromUTF8(key), 0, stored.sets.get(),
                                     *stored.set, stored.features, stored.patterns, stored.ids, reason);
    }
    static bool Matches(const KvoPluginIm::CSystemIntegrityKeyMatch& matcher, const StoredSet& stored,
                        const std::string& key) {
        int reason = -1;
        return Matches(matcher, stored, key, reason);
    }
};

}  // namespace KvoTest
