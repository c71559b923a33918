// Small utilities of the agent core shared by the plug-in.
#pragma once

#include <sys/stat.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

#include <wx/buffer.h>
#include <wx/string.h>

namespace KvoCore {

using Int64Set = std::unordered_set<long long>;
using WxStringSet = std::unordered_set<wxString>;
using MapStringToString = std::unordered_map<wxString, wxString>;
using MapStringToInt64Set = std::unordered_map<wxString, Int64Set>;

// Monotonic milliseconds (wraps with the 32-bit callers' arithmetic).
unsigned long SystemTickCount();
// Milliseconds since the epoch.
long long TimeNowMillis();

// A time of the system's clocks in nanoseconds.
long long TimespecNanos(const struct timespec& ts);
// Times in nanoseconds since the epoch. created is the birth time where the file
// system reports one (statx), else the status-change time. Any pointer may be
// null. Does not follow a final symbolic link. False when the file cannot be examined.
// Sets the calling thread's own nice value (on Linux each thread has one);
// false (errno set) when refused, as raising priority is without privileges.
bool SetCallingThreadNice(int nice);
bool GetFileTimestamps(const wxString& path, long long* lastAccessed, long long* lastModified,
                       long long* created, long long* size, struct stat* status);
// Nanoseconds since the epoch to milliseconds since the epoch.
long long FileTimestampToJTime(long long fileTime);
// 100 ns units since 1601 to milliseconds since the epoch.
long long FileTimestampToJTimeWindows(long long fileTime);

wxString toHexString(const void* data, size_t length);
wxString toHexString(const wxMemoryBuffer& buffer);
// False (buffer unchanged) when text is not an even-length hex string.
bool fromHexString(const wxString& text, wxMemoryBuffer& buffer);
bool isHexString(const wxString& text);
std::string toBase64String(const void* data, size_t length);
bool isLegalUTF8String(const char* text, size_t length);

// Makes a field safe for "|"-separated texts: each "|" becomes a broken bar (U+00A6).
wxString ReplaceBars(const wxString& text);

// "1,2,3" (set order), "(1,2,3)" with brackets.
wxString toList(const Int64Set& ids, wxChar separator = ',', bool brackets = false);
wxString toList(const WxStringSet& items, wxChar separator = ',', bool brackets = false);
// Parses a list written by toList (brackets and blanks allowed); false on a
// piece that is not a number.
bool fromList(const wxString& text, Int64Set& ids, wxChar separator = ',');
void AddToMapSet(MapStringToInt64Set& map, const wxString& key, long long id);

wxString toString(bool value);  // "true" / "false"
// The number in base 10 (or 8): as "%lld" / "%o" would write it, without a
// format parse per value (the scanners write several per entity).
wxString toDecimalString(long long value);
wxString toOctalString(unsigned long long value);
// UTF-8 text up to its first NUL, as wxString::FromUTF8 reads it (invalid
// text gives ""), in one pass when it is ASCII.
wxString fromUTF8Text(const char* text, size_t length);

// True for a regular file with an execute bit, or whose content starts like an
// executable (ELF or "#!"). fd, when not -1, is an open descriptor of the file.
bool FileIsExecutable(const wxString& path, int fd = -1);

// Sets wxWidgets' file-name conversion so that names that are not UTF-8 round-trip.
void InitFileNameConversion();

}  // namespace KvoCore
