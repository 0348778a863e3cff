// Shortening of cell texts to a pixel width, independent of the device that measures them.
#include "ui/fit_text.h"

#include <cstring>

int fitTextToWidth(TextMeasurer measure, void* context, char* text, int bufferSize, int width, int margin)
{
    if (!measure || !text || bufferSize < 1)
        return 0;

    // A cell narrower than its margins shows the clipped start of the text.
    const int budget = width - margin;
    if (budget < 0)
        return 1;

    const char* end = static_cast<const char*>(memchr(text, '\0', (size_t)bufferSize));
    if (!end)
        return 0;
    const int length = (int)(end - text);
    if (length == 0)
        return 1;

    int prefixWidth = 0;
    if (!measure(context, text, length, &prefixWidth))
        return 0;
    if (prefixWidth <= budget)
        return 1;

    int dots3 = 0, dots2 = 0, dots1 = 0;
    if (!measure(context, "...", 3, &dots3) || !measure(context, "..", 2, &dots2) ||
        !measure(context, ".", 1, &dots1))
        return 0;

    // Prefixes are measured in place by length, so the caller's text stays
    // untouched until the result is known and a failed measurement changes nothing.
    int n = length;
    while (n > 0) {
        n--;
        if (!measure(context, text, n, &prefixWidth))
            return 0;
        if (prefixWidth + dots3 <= budget)
            break;
    }

    // The result always starts with the first character, even when no prefix
    // left room; the ending is still chosen by the width of what was measured.
    const int kept = n > 0 ? n : 1;
    const char* ending = "";
    if (prefixWidth + dots3 <= budget)
        ending = "...";
    else if (prefixWidth + dots2 <= budget)
        ending = "..";
    else if (prefixWidth + dots1 <= budget)
        ending = ".";

    // In a buffer too small for the whole result the ending is cut short.
    int endingLength = (int)strlen(ending);
    if (kept + endingLength > bufferSize - 1)
        endingLength = bufferSize - 1 - kept > 0 ? bufferSize - 1 - kept : 0;
    memcpy(text + kept, ending, (size_t)endingLength);
    text[kept + endingLength] = '\0';
    return 1;
}
