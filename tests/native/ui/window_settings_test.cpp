// The stored settings record: layout, defaults, which stored values are
// taken, and its pixel values at other DPIs.
#include "ui/window_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

SettingsFont systemFont()
{
    SettingsFont f;
    memset(&f, 0, sizeof f);
    f.lfHeight = 16;
    f.lfWidth = 7;
    f.lfEscapement = 1;
    f.lfWeight = 700;
    f.lfCharSet = 0xEE;
    f.lfPitchAndFamily = 0x22;
    strcpy(f.lfFaceName, "System With A Long Face Name");
    return f;
}

int32_t wordAt(const WindowSettings& s, int offset)
{
    int32_t v;
    memcpy(&v, reinterpret_cast<const uint8_t*>(&s) + offset, 4);
    return v;
}

TEST(SettingsDefaults, EveryFieldAsStored)
{
    WindowSettings s;
    memset(&s, 0xCC, sizeof s);
    s.version = 409;
    const SettingsFont system = systemFont();
    setDefaultSettings(&s, &system);

    EXPECT_EQ(409, s.version) << "the defaults leave the version word alone";
    for (int offset = 4; offset <= 16; offset += 4)
        EXPECT_EQ((int32_t)0x80000000, wordAt(s, offset)) << "offset " << offset;
    const int32_t widths[16] = {80, 100, 100, 80, 80, 100, 100, 100, 100, 60, 80, 80, 80, 300, -1, 0};
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(widths[i], wordAt(s, 20 + 4 * i)) << "slot " << i;

    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&s);
    EXPECT_EQ(0, bytes[84]);
    EXPECT_EQ(0, bytes[85]);
    EXPECT_EQ(0xCC, bytes[86]) << "no default for offset 86";
    EXPECT_EQ(1, bytes[87]);
    EXPECT_EQ(1, bytes[88]);
    EXPECT_EQ(0, bytes[89]);
    EXPECT_EQ(0xCC, bytes[90]) << "padding has no default";

    EXPECT_EQ(18, wordAt(s, 92));
    EXPECT_EQ(0, wordAt(s, 96));
    EXPECT_EQ(1, wordAt(s, 100)) << "escapement kept from the system font";
    EXPECT_EQ(400, wordAt(s, 108));
    EXPECT_EQ(0xEE, bytes[92 + 23]);
    EXPECT_EQ(0x22, bytes[92 + 27]);
    EXPECT_STREQ("MS Shell Dlg", reinterpret_cast<const char*>(bytes + 120));
    for (int i = 120 + 12; i < 152; i++)
        EXPECT_EQ(0, bytes[i]) << "no leftover of the system face at " << i;
    EXPECT_EQ((int32_t)0x00FFFFFF, wordAt(s, 152));
    EXPECT_EQ((int32_t)0x000000FF, wordAt(s, 156));
}

std::vector<uint8_t> storedRecord(int32_t version, int32_t firstWidth)
{
    WindowSettings s = {};
    setDefaultSettings(&s, nullptr);
    s.version = version;
    s.columnWidths[0] = firstWidth;
    s.windowLeft = -32000;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&s);
    return std::vector<uint8_t>(p, p + sizeof s);
}

TEST(StoredSettings, WholeVersion410RecordIsTaken)
{
    WindowSettings s = {};
    setDefaultSettings(&s, nullptr);
    auto stored = storedRecord(410, 123);
    EXPECT_EQ(1, acceptStoredSettings(stored.data(), stored.size(), &s));
    EXPECT_EQ(0, memcmp(stored.data(), &s, sizeof s));
    EXPECT_EQ(-32000, s.windowLeft) << "positions off every screen are kept";
}

TEST(StoredSettings, OtherVersionsAndLengthsLeaveDefaults)
{
    WindowSettings defaults = {};
    setDefaultSettings(&defaults, nullptr);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"version 409", storedRecord(409, 123)},
        {"version 0", storedRecord(0, 123)},
        {"nothing read", {}},
    };
    auto shortValue = storedRecord(410, 123);
    shortValue.resize(100);
    cases.push_back({"short version-410 value", shortValue});
    auto longValue = storedRecord(410, 123);
    longValue.resize(200, 0xAB);
    cases.push_back({"long version-410 value", longValue});
    cases.push_back({"version word only", std::vector<uint8_t>{0x9A, 0x01, 0, 0}});

    for (const Case& c : cases) {
        WindowSettings s = defaults;
        EXPECT_EQ(0, acceptStoredSettings(c.bytes.data(), c.bytes.size(), &s)) << c.what;
        EXPECT_EQ(0, memcmp(&defaults, &s, sizeof s)) << c.what;
    }
}

TEST(StoredSettings, FaceNameIsAlwaysTerminated)
{
    auto stored = storedRecord(410, 80);
    memset(stored.data() + 120, 'A', 32);
    WindowSettings s = {};
    ASSERT_EQ(1, acceptStoredSettings(stored.data(), stored.size(), &s));
    EXPECT_EQ(31u, strlen(s.font.lfFaceName));
}

// The DPIs of the usual scalings, 100% to 300%, and odd ones a system may report.
const int DPIS[] = {96, 100, 110, 120, 125, 144, 150, 168, 192, 240, 288, 72, 48};

TEST(SettingsAtDpi, ValuesScaleToTheNearestPixel)
{
    struct Case {
        int32_t value;
        int dpi;
        int32_t scaled;
    } cases[] = {
        {80, 96, 80},    {80, 120, 100},  {100, 144, 150}, {300, 192, 600}, {18, 144, 27},
        {18, 120, 23},   // 22.5: halves go up
        {-11, 144, -17}, // -16.5: halves go away from zero, as text heights are given
        {2, 120, 3},     {1, 144, 2},     {1, 120, 1},     {0, 192, 0},     {80, 0, 80},  // no DPI: as at 96
        {INT32_MAX, 192, INT32_MAX},      {INT32_MIN + 1, 192, INT32_MIN},             // kept within 32 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.scaled, scaleToDpi(c.value, c.dpi)) << c.value << " at " << c.dpi;
    EXPECT_EQ(80, scaleFromDpi(100, 120));
    EXPECT_EQ(-11, scaleFromDpi(-17, 144));
}

// Loaded, shown and saved again at any DPI, a stored value comes back as it
// was: saving never creeps a width or a position by a pixel. A record saved at
// 144 DPI and loaded at 96 therefore shows what it showed at 96 before.
TEST(SettingsAtDpi, StoredValuesSurviveEverySave)
{
    for (int dpi : DPIS) {
        for (int32_t stored = -3000; stored <= 5000; stored++) {
            const int32_t shown = scaleToDpi(stored, dpi);
            ASSERT_EQ(stored, storedFromShown(shown, stored, dpi)) << stored << " at " << dpi;
            ASSERT_EQ(stored, storedPlacement(shown, stored, dpi)) << stored << " at " << dpi;
            if (dpi >= BASE_DPI) {
                // Above 96 DPI scaling back alone finds it too.
                ASSERT_EQ(stored, scaleFromDpi(shown, dpi)) << stored << " at " << dpi;
            }
        }
    }
}

// A width dragged at one DPI is stored as its 96-DPI value; from then on it
// stays put however often it is shown and saved, at that DPI or another.
TEST(SettingsAtDpi, DraggedWidthsSettleAfterOneSave)
{
    for (int dpi : DPIS) {
        for (int32_t dragged = 0; dragged <= 2000; dragged++) {
            const int32_t first = storedFromShown(dragged, 80, dpi);
            EXPECT_LE(std::abs(scaleToDpi(first, dpi) - dragged), dpi > BASE_DPI ? dpi / BASE_DPI : 1)
                << dragged << " at " << dpi;
            int32_t stored = first;
            for (int save = 0; save < 3; save++) {
                for (int other : {dpi, 96, 144, dpi})
                    stored = storedFromShown(scaleToDpi(stored, other), stored, other);
            }
            ASSERT_EQ(first, stored) << dragged << " at " << dpi;
        }
    }
}

TEST(SettingsAtDpi, SystemChosenPlacementStaysSo)
{
    for (int dpi : DPIS) {
        EXPECT_EQ(SETTINGS_DEFAULT_PLACEMENT, placementToDpi(SETTINGS_DEFAULT_PLACEMENT, dpi)) << dpi;
        // Once shown, the system's choice is stored like any other placement.
        EXPECT_EQ(scaleFromDpi(700, dpi), storedPlacement(700, SETTINGS_DEFAULT_PLACEMENT, dpi)) << dpi;
    }
    // A real placement that would read back as "let the system choose" does not.
    EXPECT_NE(SETTINGS_DEFAULT_PLACEMENT, storedPlacement(INT32_MIN, 0, 96));
}

TEST(SettingsAtDpi, CellTextPlacesFollowTheDpi)
{
    struct Case {
        int dpi, left, top, margin;
    } cases[] = {{96, 2, 1, 4}, {120, 3, 1, 5}, {144, 3, 2, 6}, {192, 4, 2, 8}, {288, 6, 3, 12}};
    for (const Case& c : cases) {
        const CellGeometry g = cellGeometryAt(c.dpi);
        EXPECT_EQ(c.left, g.textLeft) << c.dpi;
        EXPECT_EQ(c.top, g.textTop) << c.dpi;
        EXPECT_EQ(c.margin, g.margin) << c.dpi;
    }
}

}  // namespace
