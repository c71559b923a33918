// What the host queries share: reading the system's text files and account
// databases, and the texts of numbers and dates.
// Everything here is reentrant.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

#include <wx/string.h>

namespace KvoCore {

// The whole content of a file; false when it cannot be opened or read.
bool ReadWholeFile(const char* path, std::string& content, int dirFd = -1);
// Lines without their line feeds; a last line without one counts.
std::vector<std::string> SplitLines(const std::string& text);
// Fields between separators; "a::b" has an empty second field.
std::vector<std::string> SplitFields(const std::string& text, char separator);
// Blank-separated words.
std::vector<std::string> SplitWords(const std::string& text);
// A whole decimal number (no sign, nothing else); false otherwise.
bool ParseDecimal(const std::string& text, long long& value);

// System bytes as text; bytes that are not UTF-8 map into the private-use area
// the way file names do, so that a path here names the file the scanner saw.
wxString BytesToText(const std::string& bytes);
wxString IsoDay(long long daysSinceEpoch);  // "2024-01-31"
wxString IsoInstant(time_t seconds);        // "2024-01-31T12:34:56Z"

// The colon-separated lines of an account database (passwd, shadow, group)
// that have at least minFields fields; false when the file cannot be read.
bool ReadAccountFile(const char* path, size_t minFields, std::vector<std::vector<std::string>>& rows);

}  // namespace KvoCore
