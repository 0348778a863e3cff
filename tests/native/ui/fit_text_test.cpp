// Cell text shortening against a fixed-width font of 7 pixels a character.
#include "ui/fit_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Measurer {
    int pixelsPerChar = 7;
    int calls = 0;
    int failAtCall = -1;  // the call number that fails, -1 for never
    int widePixels = 0;   // when set, the width of a 'W'
};

int measure(void* context, const char* text, int length, int* width)
{
    Measurer* m = static_cast<Measurer*>(context);
    if (m->calls++ == m->failAtCall)
        return 0;
    EXPECT_GE(length, 0);
    EXPECT_LE(length, (int)strlen(text)) << "measured past the terminator";
    *width = 0;
    for (int i = 0; i < length; i++)
        *width += text[i] == 'W' && m->widePixels ? m->widePixels : m->pixelsPerChar;
    return 1;
}

// Runs the fit on text in a buffer of bufferSize bytes and returns the result text.
std::string fit(const char* text, int width, int bufferSize = 64, int* result = nullptr,
                Measurer* m = nullptr)
{
    Measurer local;
    if (!m)
        m = &local;
    std::string buffer(bufferSize + 8, 'Z');  // guard bytes after the buffer
    strcpy(&buffer[0], text);
    int r = fitTextToWidth(measure, m, &buffer[0], bufferSize, width);
    if (result)
        *result = r;
    EXPECT_EQ(std::string(8, 'Z'), buffer.substr(bufferSize)) << "wrote past the buffer";
    return std::string(buffer.c_str());
}

TEST(FitTextToWidth, TextThatFitsIsUnchanged)
{
    int r = 0;
    // "abcdef" is 42 px; a 46 px cell leaves a 42 px budget.
    EXPECT_EQ("abcdef", fit("abcdef", 46, 64, &r));
    EXPECT_EQ(1, r);
    EXPECT_EQ("", fit("", 4, 64, &r));
    EXPECT_EQ(1, r);
    EXPECT_EQ("", fit("", 0, 1, &r));
    EXPECT_EQ(1, r);
}

TEST(FitTextToWidth, OnePixelTooWideEndsInThreeDots)
{
    // Budget 41 for 42 px: "abc" (21) + "..." (21) = 42 is too wide, "ab" + "..." = 35 fits.
    EXPECT_EQ("ab...", fit("abcdef", 45));
    // A long text keeps the longest prefix that leaves room for the dots.
    EXPECT_EQ("0123456789...", fit("0123456789abcdefghij", 4 + 13 * 7));
}

TEST(FitTextToWidth, NarrowCellsKeepTheFirstCharacter)
{
    // Budget 21: no prefix of one or more characters leaves room, but "..." alone fits.
    EXPECT_EQ("a...", fit("abcdef", 4 + 21));
    // Budget 14 to 20: ".." fits but "..." does not.
    EXPECT_EQ("a..", fit("abcdef", 4 + 14));
    EXPECT_EQ("a..", fit("abcdef", 4 + 20));
    // Budget 7 to 13: only ".".
    EXPECT_EQ("a.", fit("abcdef", 4 + 7));
    // Budget 0 to 6: nothing fits, the first character stands alone.
    EXPECT_EQ("a", fit("abcdef", 4 + 6));
    EXPECT_EQ("a", fit("abcdef", 4));
}

TEST(FitTextToWidth, CellNarrowerThanItsMarginLeavesTextAlone)
{
    int r = 0;
    Measurer m;
    EXPECT_EQ("abcdef", fit("abcdef", 3, 64, &r, &m));
    EXPECT_EQ(1, r);
    EXPECT_EQ(0, m.calls) << "nothing needs measuring";
    EXPECT_EQ("abcdef", fit("abcdef", -50, 64, &r));
}

TEST(FitTextToWidth, FailedMeasurementLeavesTextUnchanged)
{
    // Fail the whole-text measure, an ending measure, and a prefix measure in turn.
    for (int failAt : {0, 1, 3, 5}) {
        Measurer m;
        m.failAtCall = failAt;
        int r = 1;
        EXPECT_EQ("abcdefghij", fit("abcdefghij", 30, 64, &r, &m)) << "failing call " << failAt;
        EXPECT_EQ(0, r) << "failing call " << failAt;
    }
}

TEST(FitTextToWidth, StaysInsideItsBuffer)
{
    int r = 0;
    // "abW" (7 + 7 + 40 pixels) in a 4-byte buffer, 35 pixels for the text:
    // "ab..." fits the width (14 + 21) but needs 6 bytes, so the ending is cut to one dot.
    Measurer wide;
    wide.widePixels = 40;
    EXPECT_EQ("ab.", fit("abW", 4 + 35, 4, &r, &wide));
    EXPECT_EQ(1, r);
    // A buffer with no terminator is refused and left alone.
    char raw[4] = {'a', 'b', 'c', 'd'};
    Measurer m;
    EXPECT_EQ(0, fitTextToWidth(measure, &m, raw, 4, 10));
    EXPECT_EQ(0, memcmp(raw, "abcd", 4));
    EXPECT_EQ(0, fitTextToWidth(measure, &m, raw, 0, 10));
}

}  // namespace
