#include <gtest/gtest.h>

#include "core/IdNameCache.h"

namespace {

using KvoCore::CIdNameCache;

struct CountingLookup {
    int calls = 0;
    CIdNameCache::Lookup Get() {
        return [this](unsigned long id, wxString& name) {
            ++calls;
            if (id == 404) return false;
            name = wxString::Format("user%lu", id);
            return true;
        };
    }
};

TEST(IdNameCache, RemembersNamesAndUnknownIdsWithinTheirLifetime) {
    CountingLookup lookup;
    CIdNameCache cache(lookup.Get());
    wxString name;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cache.Find(7, name));
        EXPECT_EQ("user7", name);
        name = "untouched";
        EXPECT_FALSE(cache.Find(404, name));
        EXPECT_EQ("untouched", name);
    }
    EXPECT_EQ(2, lookup.calls);
}

TEST(IdNameCache, AsksAgainOnceAnEntryHasExpired) {
    CountingLookup lookup;
    CIdNameCache cache(lookup.Get(), 0);
    wxString name;
    cache.Find(7, name);
    cache.Find(7, name);
    EXPECT_EQ(2, lookup.calls);
}

TEST(IdNameCache, ResolvesTheSuperUserThroughTheNameService) {
    wxString name;
    ASSERT_TRUE(CIdNameCache::ResolveUser(0, name));
    EXPECT_EQ("root", name);
    ASSERT_TRUE(CIdNameCache::ResolveGroup(0, name));
    EXPECT_EQ("root", name);
}

}  // namespace
