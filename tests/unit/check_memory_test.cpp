// A remembered clean check must never outlive the image state it was made
// on: any later write, a record not clearly newer than the image's last
// change, another volume of the same file, or a failed write of our own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "disk/check_memory.h"
#include "disk/image_drive.h"
#include "platform/platform.h"
#include "support/temp_image.h"

namespace {

class CheckMemoryTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        const char* old = std::getenv(kVariable);
        saved_ = old ? std::string(old) : std::string();
        hadOld_ = old != nullptr;
        SetVariable(cache_.Path().c_str());
    }
    void TearDown() override
    {
        SetVariable(hadOld_ ? saved_.c_str() : nullptr);
        DiskStateTest::TearDown();
    }

#ifdef _WIN32
    static constexpr const char* kVariable = "LOCALAPPDATA";
    static void SetVariable(const char* value) { _putenv_s(kVariable, value ? value : ""); }
#else
    static constexpr const char* kVariable = "XDG_CACHE_HOME";
    static void SetVariable(const char* value) { value ? setenv(kVariable, value, 1) : unsetenv(kVariable); }
#endif

    TempDir cache_;
    std::string saved_;
    bool hadOld_ = false;
};

TEST_F(CheckMemoryTest, HoldsOnlyForTheImageStateItWasMadeOn)
{
    TempImage image(PatternBytes(64 * 512));
    ASSERT_NE(image.drive, nullptr);
    const uint8_t byte = 0x5A;

    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0)) << "nothing recorded yet";
    RememberCleanCheck(image.drive, 0);
    EXPECT_TRUE(CleanCheckRemembered(image.drive, 0));
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 16)) << "another volume of the file";

    // Any write to the file, even one far from the master block.
    ASSERT_EQ(FileWriteAt(image.Slot().file, &byte, 1, 40 * 512), 1);
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0));

    // A record whose own time is not after the image's last change could
    // hide a write made in the same clock tick as ours.
    RememberCleanCheck(image.drive, 0);
    ASSERT_TRUE(CleanCheckRemembered(image.drive, 0));
    FileIdentity file{};
    ASSERT_TRUE(GetFileIdentity(image.Slot().file, &file));
    std::string record;
    ListDir((cache_.PathOf("quaylink")).c_str(),
            [](const DirEntry& entry, void* name) {
                *static_cast<std::string*>(name) = entry.name;
                return true;
            },
            &record);
    ASSERT_FALSE(record.empty());
    ASSERT_TRUE(FileSetModifiedTime((cache_.PathOf("quaylink") + PathSeparator() + record).c_str(),
                                    file.changedNs / 1000000000 - 1));
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0));

    // Once a write of ours has failed, the volume may be half written:
    // nothing is recorded.
    uint8_t block[512] = {};
    image.Slot().faults.failWriteAt = 2;
    ASSERT_EQ(image.drive->WriteSectors(block, 1, 40, image.drive), 1);
    ASSERT_EQ(image.drive->WriteSectors(block, 1, 41, image.drive), 0);
    RememberCleanCheck(image.drive, 0);
    EXPECT_FALSE(CleanCheckRemembered(image.drive, 0));
}

}  // namespace
