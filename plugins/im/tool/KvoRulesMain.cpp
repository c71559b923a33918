// kvo-rules: the rule authors' tool; it links the plug-in's own rule code.
#include <wx/init.h>

#include "core/Utilities.h"
#include "plugins/im/tool/RulesTool.h"

int main(int argc, char** argv) {
    wxInitializer init;
    if (!init.IsOk()) return KvoPluginIm::CRulesTool::ExitInternal;
    KvoCore::InitFileNameConversion();
    return KvoPluginIm::CRulesTool().Main(argc, argv);
}
