// Mac names between the two character sets, and the orderings of catalog
// and extents keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hfs/bytes.h"
#include "hfs/catalog_keys.h"
#include "hfs/btree_node.h"
#include "hfs/mac_names.h"

namespace {

std::basic_string<uint8_t> MacName(const char* text)
{
    std::basic_string<uint8_t> name(1, static_cast<uint8_t>(std::strlen(text)));
    for (const char* p = text; *p; ++p) name += static_cast<uint8_t>(*p);
    return name;
}

int Compare(const char* a, const char* b) { return CompareMacNames(MacName(a).c_str(), MacName(b).c_str()); }

TEST(MacNames, ConvertBothWaysAndKeepEveryByte)
{
    EXPECT_EQ(MacCharToPc(0x8A), 0xE4);  // a with diaeresis
    EXPECT_EQ(PcCharToMac(0xE4), 0x8A);
    EXPECT_EQ(MacCharToPc(0xB0), 0x80);  // infinity takes the euro's code
    EXPECT_EQ(PcCharToMac(0x80), 0xB0);
    EXPECT_EQ(MacCharToPc(0xDB), 0xA4);  // currency sign

    // The tables are inverse permutations of 0x80..0xFF, so every Mac name
    // comes back from the PC unchanged (a zero byte travels as 0x02).
    uint8_t name[32];
    for (unsigned start = 1; start < 256; start += 31) {
        name[0] = 0;
        for (unsigned c = start; c < start + 31 && c < 256; ++c) name[++name[0]] = static_cast<uint8_t>(c == 2 ? 0 : c);
        char pc[40];
        MacNameToPc(pc, name, true);
        uint8_t back[32];
        PcNameToMac(back, pc);
        ASSERT_EQ(0, std::memcmp(name, back, name[0] + 1u)) << "names starting at " << start;
    }
}

TEST(MacNames, OrderIgnoresCaseAndPlacesAccentsAfterTheirLetter)
{
    EXPECT_EQ(Compare("Read Me", "READ ME"), 0);
    EXPECT_LT(Compare("abc", "abcd"), 0);       // a prefix sorts first
    EXPECT_GT(Compare("\x80", "A"), 0);          // A-diaeresis right after A
    EXPECT_LT(Compare("\x80", "B"), 0);
    EXPECT_GT(Compare("`", "\x81"), 0);          // grave accent after every form of A
    EXPECT_LT(Compare(" ", "!"), 0);
    EXPECT_EQ(MacOrderTable[0x41], MacOrderTable[0x61]);
}

TEST(CatalogKeys, CompareParentFirstThenName)
{
    uint8_t key[40];
    BuildCatalogKey(20, MacName("Beta").c_str(), key);
    EXPECT_LT(CompareCatalogKey(19, MacName("Zed").c_str(), key), 0);
    EXPECT_GT(CompareCatalogKey(21, MacName("Alpha").c_str(), key), 0);
    EXPECT_EQ(CompareCatalogKey(20, nullptr, key), 0);
    EXPECT_EQ(CompareCatalogKey(20, MacName("BETA").c_str(), key), 0);
    EXPECT_LT(CompareCatalogKey(20, MacName("Alpha").c_str(), key), 0);

    uint8_t other[40];
    BuildCatalogKey(3, MacName("Zed").c_str(), other);
    EXPECT_GT(CompareCatalogKeys(key, other), 0);  // parent IDs decide, as unsigned numbers
}

TEST(ExtentKeys, LeafComparisonCoversTheRecordsRange)
{
    // Key (file 30, data fork, start 10) with extents of 2 + 3 + 0 blocks.
    uint8_t record[20] = {7, 0x00};
    PutU32(30, record + 2);
    PutU16(10, record + 6);
    PutU16(100, record + 8);
    PutU16(2, record + 10);
    PutU16(200, record + 12);
    PutU16(3, record + 14);
    EXPECT_EQ(CompareExtentKey(30, 0x00, 14, record, kLeafNode), -1);
    EXPECT_EQ(CompareExtentKey(30, 0x00, 15, record, kLeafNode), 1);  // the record's end is past it
    EXPECT_EQ(CompareExtentKey(30, 0xFF, 12, record, kLeafNode), 1);  // resource fork sorts after data
    EXPECT_EQ(CompareExtentKey(29, 0x00, 12, record, kLeafNode), -1);
    EXPECT_EQ(CompareExtentKey(30, 0x00, 12, record, kIndexNode), 2);

    uint8_t other[20];
    std::memcpy(other, record, sizeof other);
    EXPECT_EQ(CompareExtentKeys(record, other), 0);
    PutU16(11, other + 6);
    EXPECT_EQ(CompareExtentKeys(record, other), -1);
}

}  // namespace
