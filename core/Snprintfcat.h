// snprintfcat: printf-style appending to a fixed-size text buffer, for lines
// that are assembled piece by piece (the CEF syslog lines).
#pragma once

namespace KvoCore {

// Appends the formatted text to the NUL-terminated string in buffer, which
// holds size bytes. Never writes past buffer + size and always leaves the text
// terminated (a buffer without a terminator in its size is taken as full). Text
// that does not fit is cut, at a UTF-8 character boundary, so the cut never
// leaves half a character. Returns true when everything fitted.
bool snprintfcat(char* buffer, unsigned long size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A byte inside a UTF-8 character, not its first: a cut before it would split the character.
inline bool IsUtf8ContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace KvoCore
