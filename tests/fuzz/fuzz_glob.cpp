// Glob translation as rule storage runs it, for Linux and Windows hosts, with
// and without the base-directory form; each expression is then compiled and
// matched as the key matcher does it.
#include <wx/init.h>
#include <wx/regex.h>

#include <stddef.h>
#include <stdint.h>

#include "core/Utilities.h"
#include "plugins/im/GlobTranslator.h"
#include "plugins/im/RecordRegEx.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static wxInitializer init;
    KvoCore::InitFileNameConversion();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const wxString glob = wxString::FromUTF8(reinterpret_cast<const char*>(data), size);
    for (wxPathFormat host : {wxPATH_UNIX, wxPATH_DOS}) {
        const KvoPluginIm::CGlobTranslator translator(host);
        for (bool base : {false, true}) {
            const wxString regEx = translator.Translate(glob, base ? host : wxPATH_UNIX, base, true);
            const auto compiled = KvoPluginIm::CRecordRegEx::Compile(regEx, translator.IgnoresCase());
            if (compiled) compiled->Matches(glob);
        }
    }
    return 0;
}
