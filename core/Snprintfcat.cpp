#include "core/Snprintfcat.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace KvoCore {

namespace {

// Bytes a character takes when its lead byte is c (1 for a stray byte).
size_t SequenceLength(char c) {
    const unsigned char lead = static_cast<unsigned char>(c);
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

// Drops a character whose bytes were cut off at the end of text[0, length).
void DropPartialCharacter(char* text, size_t start, size_t length) {
    size_t lead = length;
    while (lead > start && IsUtf8ContinuationByte(text[lead - 1])) --lead;
    if (lead == start) return;  // only continuation bytes: not ours to judge
    --lead;
    if (lead + SequenceLength(text[lead]) > length) text[lead] = '\0';
}

}  // namespace

bool snprintfcat(char* buffer, unsigned long size, const char* format, ...) {
    if (!buffer || size == 0) return false;
    const char* end = static_cast<const char*>(memchr(buffer, '\0', size));
    if (!end) {
        buffer[size - 1] = '\0';
        return false;
    }
    const size_t used = static_cast<size_t>(end - buffer);
    const size_t room = size - used;
    va_list args;
    va_start(args, format);
    const int wanted = vsnprintf(buffer + used, room, format, args);
    va_end(args);
    if (wanted < 0) {
        buffer[used] = '\0';
        return false;
    }
    if (static_cast<size_t>(wanted) < room) return true;
    DropPartialCharacter(buffer, used, size - 1);
    return false;
}

}  // namespace KvoCore
