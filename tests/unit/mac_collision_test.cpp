// Creating a Mac file for a copy when its name is taken: the Mac collision
// dialog's answers, overwriting a file (and refusing to overwrite a folder),
// and the automatic new name that front ends without a dialog use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/progress.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "support/scripted_dialogs.h"
#include "support/translator_fixture.h"
#include "translate/byte_stream.h"
#include "translate/names.h"
#include "ui/mac_session.h"

namespace {

class MacCollision : public TranslatorTest {
protected:
    void TearDown() override
    {
        CloseProgress();
        ProgressTotal = 0;
        TranslatorTest::TearDown();
    }

    // CreateMacFileForCopy on `name`; on success writes `bytes` to the fork
    // and ends the command. Returns the answer; `finalName` gets the buffer.
    int Create(const std::string& name, const std::vector<uint8_t>& bytes, std::string* finalName = nullptr,
               uint8_t fork = 0)
    {
        char buffer[256] = {};
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        TransferRecord record{};
        record.parentId = MacPaneState.folderId;
        std::memcpy(record.finderInfo, "TEXTttxt", 8);
        int slot = -1;
        const int answer = CreateMacFileForCopy(buffer, fork, &record, &slot);
        if (answer == kCollisionGoOn) {
            EXPECT_GE(slot, 0);
            for (uint8_t b : bytes) WriteStreamByte(slot, b);
        } else {
            EXPECT_EQ(slot, -1);
        }
        CloseStream(slot);
        if (finalName) *finalName = buffer;
        return answer;
    }
    bool Has(const std::string& name)
    {
        const std::vector<std::string> names = MacFolderNames(kRootFolderId);
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    void ExpectClean()
    {
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << why;
    }
};

TEST_F(MacCollision, FreeNameIsCreatedAtOnce)
{
    ASSERT_TRUE(OpenMiniVolume());
    ScriptedDialogs dialogs;
    EXPECT_EQ(Create("Fresh", {1, 2, 3}), kCollisionGoOn);
    EXPECT_EQ(FinishCommand(), 0u);
    EXPECT_TRUE(dialogs.templates.empty());
    MacFileImage file;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Fresh", &file));
    EXPECT_EQ(file.data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(file.type, "TEXT");
    ExpectClean();
}

TEST_F(MacCollision, LongNamesAreCutTo31)
{
    ASSERT_TRUE(OpenMiniVolume());
    const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    std::string created;
    EXPECT_EQ(Create(forty, {9}, &created), kCollisionGoOn);
    EXPECT_EQ(FinishCommand(), 0u);
    EXPECT_EQ(created, forty.substr(0, 31));
    EXPECT_TRUE(Has(forty.substr(0, 31)));
}

TEST_F(MacCollision, OkWithATakenNameAsksAgain)
{
    ASSERT_TRUE(OpenMiniVolume());
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerNewName, "Gamma"}, {kAnswerNewName, "Epsilon"}});
    std::string created;
    EXPECT_EQ(Create("Alpha", {7}, &created), kCollisionGoOn);
    EXPECT_EQ(FinishCommand(), 0u);
    EXPECT_EQ(created, "Epsilon");
    EXPECT_EQ(dialogs.templates, (std::vector<std::string>{"MCOLLISION", "MCOLLISION"}));
    EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"Alpha", "Gamma"}));
    EXPECT_FALSE(dialogs.paramMismatch);
    EXPECT_TRUE(Has("Epsilon"));
    ExpectClean();
}

TEST_F(MacCollision, OverWriteReplacesTheFileAndFreesItsSpace)
{
    ASSERT_TRUE(OpenMiniVolume());
    const uint16_t freeBefore = GetU16(MacVolume.mdb->data + kMdbFreeBlocks);
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerOverWrite, ""}});
    // Delta has four extents, one in the overflow tree, and a resource fork.
    EXPECT_EQ(Create("Delta", {5, 6}), kCollisionGoOn);
    EXPECT_EQ(FinishCommand(), 0u);
    MacFileImage file;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Delta", &file));
    EXPECT_EQ(file.data, (std::vector<uint8_t>{5, 6}));
    EXPECT_TRUE(file.rsrc.empty());
    // Ten blocks of the old forks went back; the new fork took fewer.
    EXPECT_GT(GetU16(MacVolume.mdb->data + kMdbFreeBlocks), freeBefore);
    ExpectClean();
}

TEST_F(MacCollision, OverWriteNeverDeletesAFolder)
{
    ASSERT_TRUE(OpenMiniVolume());
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerOverWrite, ""}, {kAnswerSkip, ""}});
    EXPECT_EQ(Create("Docs", {1}), kCollisionSkip);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"Docs", "Docs"}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(FinishCommand(), 0u);
    MacPathTarget docs;
    ASSERT_TRUE(ResolveMacPath("Docs:Note", &docs));
    ExpectClean();
}

TEST_F(MacCollision, SkipAndCancel)
{
    ASSERT_TRUE(OpenMiniVolume());
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerSkip, ""}, {kAnswerCancel, ""}});
    EXPECT_EQ(Create("Alpha", {1}), kCollisionSkip);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(Create("Alpha", {1}), kCollisionCancel);
    EXPECT_EQ(StatusCode, 0u);  // no progress window: only this file is given up

    dialogs.showsProgress = true;
    ProgressTotal = 10;
    OpenProgress(nullptr, kProgressCopyPcToMac);
    ASSERT_NE(ProgressWindow, nullptr);
    dialogs.Script({{kAnswerCancel, ""}});
    EXPECT_EQ(Create("Alpha", {1}), kCollisionCancel);
    EXPECT_EQ(StatusCode, kStatusCancelled);
    EXPECT_EQ(FinishCommand(), kStatusCancelled);
    MacFileImage alpha;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &alpha));
    EXPECT_EQ(alpha.data.size(), 1000u);
    ExpectClean();
}

TEST_F(MacCollision, EmptyTypedNameIsRefused)
{
    ASSERT_TRUE(OpenMiniVolume());
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerNewName, ""}});
    EXPECT_EQ(Create("Alpha", {1}), kCollisionFailed);
    EXPECT_EQ(StatusCode, kStatusCannotCreate);
    EXPECT_EQ(FinishCommand(), kStatusCannotCreate);
    ExpectClean();
}

TEST_F(MacCollision, OtherFailuresPassThrough)
{
    ASSERT_TRUE(OpenMiniVolume());
    StatusCode = kStatusReadError;
    std::string created;
    EXPECT_EQ(Create("Fresh", {}, &created), kCollisionFailed);
    EXPECT_EQ(StatusCode, kStatusReadError);
    StatusCode = 0;
}

TEST_F(MacCollision, FreeNamesForFrontEndsWithoutDialogs)
{
    ASSERT_TRUE(OpenMiniVolume());
    EXPECT_EQ(MacNameKind("Docs"), kItemFolder);
    EXPECT_EQ(MacNameKind("ALPHA"), kItemFile);  // names compare without case
    EXPECT_EQ(MacNameKind("Omega"), 0);
    EXPECT_EQ(StatusCode, 0u);

    auto freeName = [](const std::string& name) {
        char buffer[256] = {};
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        EXPECT_TRUE(MakeFreeMacName(buffer));
        return std::string(buffer);
    };
    EXPECT_EQ(freeName("Alpha"), "Alpha 1");
    EXPECT_EQ(Create("Alpha 1", {}), kCollisionGoOn);
    EXPECT_EQ(freeName("Alpha"), "Alpha 2");
    EXPECT_EQ(freeName("Docs"), "Docs 1");
    EXPECT_EQ(freeName("Report.txt"), "Report 1.txt");
    EXPECT_EQ(freeName(".hidden"), ".hidden 1");
    const std::string longName = "abcdefghijklmnopqrstuvwxyz.text";  // 31 characters
    EXPECT_EQ(freeName(longName), "abcdefghijklmnopqrstuvwx 1.text");
    EXPECT_EQ(FinishCommand(), 0u);
}

}  // namespace
