// Bounded text building in a fixed caller buffer: appends never run past it.
#pragma once

struct TextBuilder {
    char* text;     // always NUL-terminated within size
    int size;       // bytes of the buffer, at least 1
    int length;     // characters held
    int truncated;  // 1 once anything had to be cut
};

void textBegin(TextBuilder* b, char* buffer, int size);
void textAppendChars(TextBuilder* b, const char* chars, int count);
void textAppend(TextBuilder* b, const char* text);
void textAppendChar(TextBuilder* b, char c);
// Only ever called with the program's own fixed formats, never with traffic.
void textAppendFormat(TextBuilder* b, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
