// The item dialogs driven through scripted sessions against real volumes
// and directories: what they ask, what they end with, and what reached the
// disk (hfsutils' listing, our checker) or the PC directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/status.h"
#include "hfs/volume.h"
#include "support/hfsutils_driver.h"
#include "support/recording_window.h"
#include "support/run_command.h"
#include "support/temp_image.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"
#include "ui/mac_session.h"
#include "ui/pc_pane.h"

namespace {

namespace fs = std::filesystem;
class DialogSessionTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        SetWindowSystem(&ws);  // the reset put the headless one back
    }
    std::vector<std::string> MessageTexts()
    {
        std::vector<std::string> texts;
        for (const auto& m : ws.messages) texts.push_back(m.text);
        return texts;
    }

    RecordingWindowSystem ws;
};

class MacDialogsTest : public DialogSessionTest {
protected:
    void SetUp() override
    {
        DialogSessionTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        image = dir.PathOf("v.img");
        ASSERT_TRUE(hfs.Format(image, "Dialogs", 1474560)) << hfs.LastError();
        ASSERT_TRUE(hfs.PutRawFiles({{"a", {1, 2, 3}}, {"b", {4}}}, ":")) << hfs.LastError();
        ASSERT_TRUE(hfs.SetTypeCreator(":a", "TEXT", "ttxt")) << hfs.LastError();
        ASSERT_TRUE(hfs.Mkdir(":Fold")) << hfs.LastError();
    }
    // Opens the volume and makes `name` of the root the pane's opened item.
    void Open(const std::string& name)
    {
        ASSERT_TRUE(OpenImageAsMacDrive(image.c_str(), true) && OpenListedVolume(0)) << StatusCode;
        for (uint16_t i = 0; i < MacPaneState.count; ++i)
            if (MacString(MacPaneState.items[i]->name) == name) MacPaneState.openedIndex = i;
        ASSERT_EQ(MacString(MacPaneState.items[MacPaneState.openedIndex]->name), name);
    }
    // What hfsutils lists in the root, after our engine has let the image go
    // (dropping whatever it had not flushed).
    std::string Listing()
    {
        CloseMacDrive();
        StatusCode = 0;
        const CommandResult r = hfs.Run("hls", {"-l", ":"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }
    void ExpectChecked()
    {
        const CommandResult r = RunCommand({QUAYLINK_CLI_PATH, "check", image});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }

    TempDir dir;
    std::string image;
    HfsUtils hfs;
};

TEST_F(MacDialogsTest, InfoDialogsAskThenChangeTheVolume)
{
    const std::string three = "Rename this file?\nChange file type?\nChange file creator?";
    const std::vector<DialogStep> all = {Clear(151), Type(151, "c"),    Clear(153), Type(153, "APPL"),
                                   Clear(155), Type(155, "MACS"), Press(1)};
    struct Case {
        const char* item;
        std::vector<DialogStep> steps;
        int answer;
        int end;
        std::vector<std::string> messages;
        std::vector<std::string> listed;  // in hls -l of the root afterwards
    } cases[] = {
        // A 3-character type leaves OK disabled.
        {"a", {Clear(153), Type(153, "ABC"), Press(1)}, kIdYes, 0, {}, {"TEXT/ttxt", " a\n"}},
        {"a", {Clear(153), Type(153, "ABCD"), Press(1)}, kIdYes, 1, {"\nChange file type?"}, {"ABCD/ttxt"}},
        // The name is taken: neither the new creator nor anything else is written.
        {"a",
         {Clear(151), Type(151, "b"), Clear(155), Type(155, "XYZW"), Press(1)},
         kIdYes,
         0,
         {"Rename this file?\nChange file creator?", "Could not change file info"},
         {"ABCD/ttxt", " a\n", " b\n"}},
        {"a", all, kIdNo, 0, {three}, {"ABCD/ttxt", " a\n"}},
        {"a", all, kIdYes, 1, {three}, {"APPL/MACS", " c\n"}},
        {"Fold",
         {Clear(151), Type(151, "Folder renamed to a very long name"), Press(1)},
         kIdYes,
         1,
         {"Rename folder?"},
         {" Folder renamed to a very long n\n"}},
        {"Folder renamed to a very long n", {Press(1)}, kIdYes, 0, {}, {" Folder renamed to a very long n\n"}},
        {"Folder renamed to a very long n",
         {Clear(151), Type(151, "c"), Press(1)},
         kIdYes,
         0,
         {"Rename folder?", "Could not rename folder."},
         {" Folder renamed to a very long n\n"}},
    };
    for (const Case& c : cases) {
        Open(c.item);
        ws.messages.clear();
        ws.questionAnswer = c.answer;
        EXPECT_EQ(ws.Session(c.steps, [] { return RunMacItemInfo(nullptr); }), c.end) << c.item;
        EXPECT_EQ(MessageTexts(), c.messages) << c.item;
        if (!c.messages.empty()) {
            EXPECT_EQ(ws.messages[0].caption, std::string(c.item).rfind("Fold", 0) == 0 ? "Rename Mac Folder"
                                                                                          : "Change Mac File Info");
        }
        const std::string listing = Listing();
        for (const std::string& part : c.listed) EXPECT_NE(listing.find(part), std::string::npos) << part << listing;
        ExpectChecked();
    }
    EXPECT_EQ(ws.dialogRuns[0].model.ignoredPresses, 1u);
    EXPECT_EQ(ws.dialogRuns[0].model.controls.at(157).text, "3 bytes");
    EXPECT_EQ(ws.dialogRuns[0].templateName, "MACINFO");
    EXPECT_EQ(ws.dialogRuns[5].templateName, "MACFLDRINFO");
}

TEST_F(MacDialogsTest, CreateFolderEndsWithOneWhenOkIsPressed)
{
    struct Case {
        std::vector<DialogStep> steps;
        int end;
        uint32_t status;
    } cases[] = {
        {{Type(170, "Sub")}, 0, 0},
        {{Press(1)}, 1, kStatusCannotCreate},  // OK is enabled before anything is typed
        {{Type(170, "Sub:x"), Press(1)}, 1, kStatusCannotCreate},
        {{Type(170, "A folder name of more than 31 characters"), Press(1)}, 1, 0},
        {{Type(170, "Fold"), Press(1)}, 1, kStatusNameExists},
    };
    for (const Case& c : cases) {
        Open("a");
        EXPECT_EQ(ws.Session(c.steps, [] { return RunCreateMacFolder(nullptr); }), c.end);
        EXPECT_EQ(StatusCode, c.status);
        if (c.end == 1 && StatusCode == 0) FlushVolume();
        EXPECT_EQ(StatusCode, c.status);
        Listing();
    }
    const std::string listing = Listing();
    EXPECT_NE(listing.find(" A folder name of more than 31 c\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find(" Sub"), std::string::npos) << listing;
    ExpectChecked();
}

// The PC dialogs rename and create in the pane's directory.
TEST_F(DialogSessionTest, PcDialogsRenameAndCreateInThePaneDirectory)
{
    TempDir dir;
    dir.WriteFile("a.txt", {1, 2, 3});
    dir.WriteFile("taken.txt", {4});
    fs::create_directory(dir.PathOf("sub"));
    fs::create_symlink(dir.PathOf("sub"), dir.PathOf("link"));
    PcDirectory = dir.Path();
    auto names = [&] {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir.Path())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    };
    auto show = [&](const std::string& name) {
        PcItemList.clear();
        ASSERT_TRUE(ReadPcDirectory(dir.Path().c_str(), &PcItemList));
        for (size_t i = 0; i < PcItemList.size(); ++i)
            if (PcItemList[i].name == name) PcShownIndex = static_cast<uint16_t>(i);
        ASSERT_EQ(PcItemList[PcShownIndex].name, name);
    };
    struct Case {
        const char* item;
        std::vector<DialogStep> steps;
        int answer;  // to the question
        int end;
        const char* template_;
        const char* question;  // "" when none
        const char* failure;   // "" when none
        std::vector<std::string> after;
    } cases[] = {
        // Case alone is a change; ":" and "*" typed do nothing.
        {"a.txt", {Clear(141), Type(141, "A:*.TXT"), Press(1)}, kIdYes, 1, "DOSINFO", "Rename this file?", "",
         {"A.TXT", "link", "sub", "taken.txt"}},
        {"A.TXT", {Clear(141), Type(141, "b.txt"), Press(1)}, kIdNo, 0, "DOSINFO", "Rename this file?", "",
         {"A.TXT", "link", "sub", "taken.txt"}},
        {"A.TXT", {Clear(141), Type(141, "taken.txt"), Press(1)}, kIdYes, 0, "DOSINFO", "Rename this file?",
         "Could not rename this file.", {"A.TXT", "link", "sub", "taken.txt"}},
        {"A.TXT", {Clear(141), Paste(141, "../out.txt"), Press(1)}, kIdYes, 0, "DOSINFO", "Rename this file?",
         "Could not rename this file.", {"A.TXT", "link", "sub", "taken.txt"}},
        {"A.TXT", {Clear(141), Press(1), Type(141, "A.TXT"), Press(1)}, kIdYes, 0, "DOSINFO", "", "",
         {"A.TXT", "link", "sub", "taken.txt"}},
        {"sub", {Clear(141), Type(141, "dir2"), Press(1)}, kIdYes, 1, "DOSDIRINFO", "Rename directory?", "",
         {"A.TXT", "dir2", "link", "taken.txt"}},
        // A link is renamed as itself; what it pointed to stays.
        {"link", {Clear(141), Type(141, "link2"), Press(1)}, kIdYes, 1, "DOSINFO", "Rename this file?", "",
         {"A.TXT", "dir2", "link2", "taken.txt"}},
    };
    for (const Case& c : cases) {
        show(c.item);
        ws.messages.clear();
        ws.questionAnswer = c.answer;
        EXPECT_EQ(ws.Session(c.steps, [] { return RunPcItemInfo(nullptr); }), c.end) << c.item;
        EXPECT_EQ(ws.dialogRuns.back().templateName, c.template_);
        std::vector<std::string> texts;
        for (const auto& m : ws.messages) texts.push_back(m.text);
        std::vector<std::string> expected;
        if (*c.question) expected.push_back(c.question);
        if (*c.failure) expected.push_back(c.failure);
        EXPECT_EQ(texts, expected) << c.item;
        if (*c.question) {
            EXPECT_EQ(ws.messages[0].caption, c.template_ == std::string("DOSINFO") ? "Rename PC File"
                                                                                    : "Rename PC Directory");
        }
        EXPECT_EQ(names(), c.after) << c.item;
    }
    EXPECT_EQ(fs::read_symlink(dir.PathOf("link2")), dir.PathOf("sub"));
    EXPECT_EQ(ws.dialogRuns[0].model.controls.at(143).text, "3 bytes");

    // CREATEDIR: OK enabled before anything is typed; an empty name fails with 104.
    struct Create {
        std::vector<DialogStep> steps;
        int end;
        uint32_t status;
        const char* made;
    } creates[] = {
        {{Type(172, "n;e<w>")}, 0, 0, nullptr},
        {{Type(172, "n;e<w>"), Press(1)}, 1, 0, "new"},
        {{Press(1)}, 1, kStatusPcCreateError, nullptr},
        {{Type(172, "new"), Press(1)}, 1, kStatusPcCreateError, nullptr},
        {{Paste(172, "../escaped"), Press(1)}, 1, kStatusPcCreateError, nullptr},
    };
    for (const Create& c : creates) {
        StatusCode = 0;
        EXPECT_EQ(ws.Session(c.steps, [] { return RunCreatePcDirectory(nullptr); }), c.end);
        EXPECT_EQ(StatusCode, c.status);
        if (c.made) {
            EXPECT_TRUE(fs::is_directory(dir.PathOf(c.made)));
        }
    }
    EXPECT_FALSE(fs::exists(fs::path(dir.Path()).parent_path() / "escaped"));
    StatusCode = 0;
}

}  // namespace
