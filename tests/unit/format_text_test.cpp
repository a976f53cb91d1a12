// Size texts, thousands separators, DOS dates from PC and Mac times, the
// date text and the wait cursor.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/progress.h"
#include "core/window_system.h"
#include "hfs/mac_time.h"
#include "support/time_zone.h"
#include "ui/format_text.h"

namespace {

std::string Size(uint32_t n)
{
    char out[16];
    std::memset(out, 'X', sizeof out);
    FormatSize(n, out);
    EXPECT_LT(std::strlen(out), 8u);
    return out;
}

TEST(FormatSizeTest, EveryThreshold)
{
    EXPECT_EQ(Size(0), "   0");
    EXPECT_EQ(Size(9727), "9727");
    EXPECT_EQ(Size(9728), " 10K");
    EXPECT_EQ(Size(996086), "973K");
    EXPECT_EQ(Size(996087), "1.0M");
    EXPECT_EQ(Size(1474560), "1.4M");  // a 1.44 MB diskette
    EXPECT_EQ(Size(9961471), "9.5M");
    EXPECT_EQ(Size(9961472), " 10M");
    EXPECT_EQ(Size(1020054732), "973M");
    EXPECT_EQ(Size(1020054733), "1.0G");
    EXPECT_EQ(Size(4241280199u), "3.9G");
    // Just below a whole gigabyte the tenths would count to ten: they carry.
    EXPECT_EQ(Size(4241280204u), "4.0G");
    EXPECT_EQ(Size(3167538380u), "3.0G");
    EXPECT_EQ(Size(4241280205u), "4.0G");
    EXPECT_EQ(Size(4294967294u), "4.0G");
    EXPECT_EQ(Size(4294967295u), ">4G");
}

std::string Thousands(const char* digits)
{
    char text[16];
    std::strcpy(text, digits);
    InsertThousands(text);
    return text;
}

TEST(InsertThousandsTest, GroupsOfThree)
{
    EXPECT_EQ(Thousands(""), "");
    EXPECT_EQ(Thousands("999"), "999");
    EXPECT_EQ(Thousands("1000"), "1,000");
    EXPECT_EQ(Thousands("123456"), "123,456");
    EXPECT_EQ(Thousands("1234567"), "1,234,567");
    EXPECT_EQ(Thousands("4294967295"), "4,294,967,295");
    EXPECT_EQ(Thousands("12345678901"), "12,345,678,901");
}

TEST(DosTimeTest, DatesBefore1980HaveNone)
{
    // 1904 and 1601 lie before the DOS era in every time zone.
    EXPECT_EQ(DosTimeFromMac(0), 0u);
    EXPECT_EQ(DosTimeFromPc(0), 0u);
}

TEST(DosTimeTest, MacAndPcTimesOfOneInstantAgree)
{
    ScopedTimeZone zone("UTC0");
    if (!zone.Active()) GTEST_SKIP() << zone.Why();
    // 2023-11-14 22:13:20 UTC: Unix 1700000000, Mac 1700000000 + 2082844800.
    const uint64_t fileTime = 116444736000000000ULL + 1700000000ULL * 10000000ULL;
    EXPECT_EQ(DosTimeFromPc(fileTime), 0x576EB1AAu);
    EXPECT_EQ(DosTimeFromPc(fileTime + 9999999), 0x576EB1AAu) << "fractions of a second are dropped";
    EXPECT_EQ(DosTimeFromMac(3782844800u), 0x576EB1AAu);
}

// A MacDate is what the local clock showed: every zone shows it as it is,
// even a reading the zone's clock skips.
TEST(DosTimeTest, MacDatesAreShownAsTheyAreInEveryZone)
{
    for (const char* name : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"}) {
        ScopedTimeZone zone(name);
        if (!zone.Active()) continue;
        EXPECT_EQ(DosTimeFromMac(1719835200u + 2082844800u), 0x58E16000u) << name;  // 2024-07-01 12:00
        EXPECT_EQ(DosTimeFromMac(1710037800u + 2082844800u), 0x586A13C0u) << name;  // 2024-03-10 02:30
        EXPECT_EQ(DosTimeFromMac(2398377600u), 0x00210000u) << name;  // 1980-01-01 00:00, the first
        EXPECT_EQ(DosTimeFromMac(2398377599u), 0u) << name;
        EXPECT_EQ(DosTimeFromMac(0xFFFFFFFFu), 0x78463387u) << name;  // 2040-02-06 06:28:15, the last
    }
}

TEST(FormatDosDateTimeTest, OneBufferHoldingTheLastText)
{
    const char* first = FormatDosDateTime(0x576EB1AAu);  // 2023-11-14 22:13:20
    std::string firstText = first;
    const char* second = FormatDosDateTime(0x58E14000u);  // 2024-07-01 08:00:00
    EXPECT_EQ(first, second);
    EXPECT_NE(firstText, second);
    EXPECT_NE(firstText.find("2023"), std::string::npos) << firstText;
    EXPECT_NE(std::string(second).find("2024"), std::string::npos) << second;
    // The time comes first, then one space, then the long date.
    size_t year = firstText.find("2023");
    EXPECT_NE(firstText.find(' '), std::string::npos);
    EXPECT_LT(firstText.find("13"), year);
#if !defined(_WIN32)
    EXPECT_EQ(firstText, "22:13:20 Tuesday, November 14, 2023");
    EXPECT_STREQ(second, "08:00:00 Monday, July 1, 2024");
#endif
}

TEST(FormatDosDateTimeTest, NoDateNoText)
{
    EXPECT_STREQ(FormatDosDateTime(0), "");
    EXPECT_STREQ(FormatDosDateTime(0x57A10000u), "") << "month 13";
    EXPECT_STREQ(FormatDosDateTime(0x576EC000u), "") << "hour 24";
}

class CursorRecorder : public HeadlessWindowSystem {
public:
    void SetBusyCursor(bool busy) override { calls += busy ? "on " : "off "; }
    std::string calls;
};

class WaitCursorTest : public ::testing::Test {
protected:
    void SetUp() override { SetWindowSystem(&recorder); }
    void TearDown() override
    {
        SetWindowSystem(nullptr);
        WaitCursorEnabled = true;
    }
    CursorRecorder recorder;
};

TEST_F(WaitCursorTest, ShowsAndRestoresThroughTheWindowSystem)
{
    SetWaitCursor(true);
    SetWaitCursor(false);
    EXPECT_EQ(recorder.calls, "on off ");
}

TEST_F(WaitCursorTest, DoesNothingWhileSwitchedOff)
{
    WaitCursorEnabled = false;
    SetWaitCursor(true);
    SetWaitCursor(false);
    EXPECT_EQ(recorder.calls, "");
}

}  // namespace
