// The stored settings record: layout, defaults, and which stored values are taken.
#include "app/settings.h"

#include <gtest/gtest.h>

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

}  // namespace
