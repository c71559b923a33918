// GoogleTest entry point: wxWidgets must be initialised for threads, file names
// and XML.
#include <gtest/gtest.h>
#include <wx/init.h>

#include "core/Utilities.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer init;
    if (!init.IsOk()) return 70;
    KvoCore::InitFileNameConversion();
    return RUN_ALL_TESTS();
}
