#include <gtest/gtest.h>

#include "core/IdNameCache.h"

using KvoCore::CIdNameCache;

TEST(IdNameCache, RemembersNamesAndUnknownIdsWithinTheirLifetimeOnly) {
    for (int lifetime : {300, 0}) {
        int calls = 0;
        CIdNameCache cache(
            [&calls](unsigned long id, wxString& name) {
                ++calls;
                name = wxString::Format("user%lu", id);
                return id != 404;
            },
            lifetime);
        wxString name;
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(cache.Find(7, name) && name == "user7") << name;
            name = "untouched";
            EXPECT_FALSE(cache.Find(404, name) || name != "untouched") << name;
        }
        EXPECT_EQ(lifetime ? 2 : 6, calls) << "lifetime " << lifetime;
    }
    wxString user, group;
    EXPECT_TRUE(CIdNameCache::ResolveUser(0, user) && CIdNameCache::ResolveGroup(0, group));
    EXPECT_EQ("root root", user + " " + group);
}
