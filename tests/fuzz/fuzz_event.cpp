// The event texts: CEF escaping of prefix fields and extension values (the
// line must keep its field structure whatever a key holds), and the JSON
// event lines and update descriptions the host reads back.
#include <fuzzer/FuzzedDataProvider.h>
#include <wx/init.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "agent/ChangeEvent.h"
#include "agent/JsonEventFile.h"
#include "core/Syslogger.h"

namespace {

// True when every character of special is escaped by an odd run of backslashes.
bool AllEscaped(const wxString& text, const wxString& special) {
    size_t backslashes = 0;
    for (wxUniChar c : text) {
        if (special.Find(c) != wxNOT_FOUND && backslashes % 2 == 0) return false;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    return backslashes % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static wxInitializer init;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string fieldBytes = input.ConsumeRandomLengthString(1024);
    const wxString field = wxString::FromUTF8(fieldBytes.data(), fieldBytes.size());
    const wxString prefix = KvoCore::CSyslogger::EscapeCEFPrefix(field);
    if (prefix.find_first_of("\r\n") != wxString::npos || !AllEscaped(prefix, "|")) __builtin_trap();
    const wxString extension = KvoCore::CSyslogger::EscapeCEFExtension(field);
    if (extension.find_first_of("\r\n") != wxString::npos || !AllEscaped(extension, "=")) __builtin_trap();

    const std::string description = input.ConsumeRandomLengthString(4096);
    KvoAgent::CChangeEvent::DecodeDescription(wxString::FromUTF8(description.data(), description.size()));
    KvoAgent::CChangeEvent event;
    KvoAgent::CJsonEventFile::Parse(input.ConsumeRemainingBytesAsString(), event);
    return 0;
}
