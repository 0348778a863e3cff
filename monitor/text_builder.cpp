// Bounded text building in a fixed caller buffer: appends never run past it.
#include "monitor/text_builder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void textBegin(TextBuilder* b, char* buffer, int size)
{
    b->text = buffer;
    b->size = size;
    b->length = 0;
    b->truncated = 0;
    if (size > 0)
        buffer[0] = '\0';
    else
        b->truncated = 1;
}

void textAppendChars(TextBuilder* b, const char* chars, int count)
{
    if (b->size < 1 || count <= 0)
        return;
    const int room = b->size - 1 - b->length;
    if (count > room) {
        count = room;
        b->truncated = 1;
    }
    memcpy(b->text + b->length, chars, (size_t)count);
    b->length += count;
    b->text[b->length] = '\0';
}

void textAppend(TextBuilder* b, const char* text)
{
    textAppendChars(b, text, (int)strlen(text));
}

void textAppendChar(TextBuilder* b, char c)
{
    textAppendChars(b, &c, 1);
}

void textAppendFormat(TextBuilder* b, const char* format, ...)
{
    if (b->size < 1)
        return;
    const int room = b->size - b->length;
    va_list args;
    va_start(args, format);
    const int wanted = vsnprintf(b->text + b->length, (size_t)room, format, args);
    va_end(args);
    if (wanted < 0) {
        b->text[b->length] = '\0';
        b->truncated = 1;
        return;
    }
    if (wanted >= room) {
        b->length = b->size - 1;
        b->truncated = 1;
        return;
    }
    b->length += wanted;
}
