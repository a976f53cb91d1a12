// Creating a Mac file for a copy when its name is taken: the Mac collision
// dialog's answers, overwriting a file (never a folder), and the automatic
// new name that front ends without a dialog use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/progress.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "support/translator_fixture.h"
#include "translate/byte_stream.h"
#include "translate/names.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

class MacCollision : public TranslatorTest {
protected:
    void SetUp() override
    {
        TranslatorTest::SetUp();
        ASSERT_TRUE(OpenMiniVolume());
    }
    // CreateMacFileForCopy on `name`; on success writes `bytes` to the data
    // fork. Returns the answer; `finalName` gets the buffer.
    int Create(const std::string& name, const Bytes& bytes, std::string* finalName = nullptr)
    {
        char buffer[256] = {};
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        TransferRecord record{};
        record.parentId = MacPaneState.folderId;
        std::memcpy(record.finderInfo, "TEXTttxt", 8);
        int slot = -1;
        const int answer = CreateMacFileForCopy(buffer, 0, &record, &slot);
        EXPECT_EQ(slot >= 0, answer == kCollisionGoOn);
        for (uint8_t b : bytes)
            if (slot >= 0) WriteStreamByte(slot, b);
        CloseStream(slot);
        if (finalName) *finalName = buffer;
        return answer;
    }
    Bytes Data(const std::string& name)
    {
        MacFileImage file;
        EXPECT_TRUE(ReadMacFile(kRootFolderId, name, &file)) << name;
        return file.data;
    }
};

TEST_F(MacCollision, FreeNamesAreCreatedAndTakenOnesAskAgain)
{
    RecordingWindowSystem ws;
    const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    std::string created;
    EXPECT_EQ(Create(forty, {9}, &created), kCollisionGoOn);
    EXPECT_EQ(created, forty.substr(0, 31));
    EXPECT_TRUE(ws.asked.empty());
    ws.Script({{NameExistsAnswer::NewName, "Gamma"}, {NameExistsAnswer::NewName, "Epsilon"}});
    EXPECT_EQ(Create("Alpha", {7}, &created), kCollisionGoOn);
    EXPECT_EQ(FinishCommand(), 0u);
    EXPECT_EQ(created, "Epsilon");
    EXPECT_EQ(ws.shown, (std::vector<std::string>{"Alpha", "Gamma"}));
    EXPECT_FALSE(ws.paramMismatch);
    EXPECT_EQ(Data(forty.substr(0, 31)), Bytes{9});
    EXPECT_EQ(Data("Epsilon"), Bytes{7});
    ExpectVolumeClean();
}

TEST_F(MacCollision, OverWriteReplacesAFileAndFreesItsSpaceButNeverAFolder)
{
    const uint16_t freeBefore = GetU16(MacVolume.mdb->data + kMdbFreeBlocks);
    RecordingWindowSystem ws;
    ws.Script({{NameExistsAnswer::Overwrite, ""}, {NameExistsAnswer::Overwrite, ""}, {NameExistsAnswer::Skip, ""}});
    // Delta has four extents, one in the overflow tree, and a resource fork.
    EXPECT_EQ(Create("Delta", {5, 6}), kCollisionGoOn);
    EXPECT_EQ(FinishCommand(), 0u);
    MacFileImage file;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Delta", &file));
    EXPECT_EQ(file.data, (Bytes{5, 6}));
    EXPECT_TRUE(file.rsrc.empty());
    EXPECT_GT(GetU16(MacVolume.mdb->data + kMdbFreeBlocks), freeBefore);
    EXPECT_EQ(Create("Docs", {1}), kCollisionSkip);  // asked again after a message
    EXPECT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(FinishCommand(), 0u);
    MacPathTarget note;
    ASSERT_TRUE(ResolveMacPath("Docs:Note", &note));
    ExpectVolumeClean();
}

TEST_F(MacCollision, SkipCancelEmptyNameAndPendingFailure)
{
    RecordingWindowSystem ws;
    ws.Script({{NameExistsAnswer::Skip, ""}, {NameExistsAnswer::Cancel, ""}, {NameExistsAnswer::NewName, ""}});
    EXPECT_EQ(Create("Alpha", {1}), kCollisionSkip);
    EXPECT_EQ(Create("Alpha", {1}), kCollisionCancel);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(Create("Alpha", {1}), kCollisionFailed);
    EXPECT_EQ(FinishCommand(), kStatusCannotCreate);
    ProgressTotal = 10;
    OpenProgress(nullptr, kProgressCopyPcToMac);
    ws.Script({{NameExistsAnswer::Cancel, ""}});
    EXPECT_EQ(Create("Alpha", {1}), kCollisionCancel);
    EXPECT_EQ(FinishCommand(), kStatusCancelled);
    EXPECT_EQ(Data("Alpha").size(), 1000u);
    StatusCode = kStatusReadError;
    EXPECT_EQ(Create("Fresh", {}), kCollisionFailed);
    EXPECT_EQ(StatusCode, kStatusReadError);
    StatusCode = 0;
    ExpectVolumeClean();
}

}  // namespace
