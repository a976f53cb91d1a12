// DiskCopy 4.2 images of the corpus as drives: data area and checksums.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "support/run_command.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ImageCorpusTest : public DiskStateTest {
protected:
    // A private copy of a corpus file, opened as a writable drive.
    std::unique_ptr<TempImage> Open(const char* relative, uint32_t sectorSize)
    {
        const fs::path source = fs::path(QUAYLINK_CORPUS_DIR) / relative;
        if (!fs::exists(source)) return nullptr;
        original = ReadFileBytes(source.string());
        return std::make_unique<TempImage>(original, sectorSize, true, "copy.dsk");
    }
    static uint32_t Checksum(const Bytes& file)
    {
        return (uint32_t{file[72]} << 24) | (uint32_t{file[73]} << 16) | (uint32_t{file[74]} << 8) | file[75];
    }
    Bytes original;
};

// Reads `count` blocks from `first`, calling again for the rest.
Bytes ReadRun(DriveEntry* drive, uint32_t first, uint32_t count)
{
    Bytes out(size_t{count} * 512);
    uint32_t done = 0;
    for (int guard = 0; done < count && guard < 100000; ++guard) {
        const uint16_t ask = static_cast<uint16_t>(std::min<uint32_t>(count - done, 64));
        const int32_t got = drive->ReadSectors(out.data() + size_t{done} * 512, ask, first + done, drive);
        if (got <= 0) break;
        done += static_cast<uint32_t>(got);
    }
    out.resize(size_t{done} * 512);
    return out;
}

TEST_F(ImageCorpusTest, RewritingAnImageWithAStaleChecksumRepairsIt)
{
    auto image = Open("imac/System 7.1.2 Disk Tools FD.badsum-810cb28e.dsk", 512);
    if (!image) GTEST_SKIP() << "corpus not present";
    ASSERT_NE(image->drive, nullptr);
    EXPECT_TRUE(image->Slot().diskCopy);
    EXPECT_EQ(image->Slot().dataLength, 1474560u);

    // Block 2 is the volume's master directory block: "BD", then the name.
    Bytes mdb = ReadRun(image->drive, 2, 1);
    ASSERT_EQ(mdb.size(), 512u);
    EXPECT_EQ(mdb[0], 'B');
    EXPECT_EQ(mdb[1], 'D');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&mdb[37]), mdb[36]), "Disk Tools");

    EXPECT_EQ(image->drive->WriteSectors(mdb.data(), 1, 2, image->drive), 1);
    CloseImage(image->slot);
    const Bytes after = image->Bytes();
    EXPECT_EQ(Checksum(original), 0xE73C0E60u);
    EXPECT_EQ(Checksum(after), 0xD7230362u);
    Bytes expected = original;
    std::copy(after.begin() + 72, after.begin() + 76, expected.begin() + 72);
    EXPECT_EQ(after, expected);
}

TEST_F(ImageCorpusTest, ImageWithTagsKeepsThemAndItsValidChecksum)
{
    for (uint32_t sectorSize : {512u, 2048u}) {
        ResetProgramState();
        auto image = Open("cp2/Installer Disk 1.image", sectorSize);
        if (!image) GTEST_SKIP() << "corpus not present";
        ASSERT_NE(image->drive, nullptr);
        EXPECT_EQ(image->Slot().dataLength, 819200u);

        const Bytes data = ReadRun(image->drive, 0, 1600);
        EXPECT_EQ(data, Bytes(original.begin() + 84, original.begin() + 84 + 819200));
        EXPECT_EQ(ReadRun(image->drive, 1600, 1).size(), 0u);  // the tags are not blocks
        StatusCode = 0;

        Bytes first = ReadRun(image->drive, 0, 5);
        EXPECT_EQ(image->drive->WriteSectors(first.data(), 5, 0, image->drive), sectorSize == 512 ? 5 : 4);
        CloseImage(image->slot);
        EXPECT_EQ(image->Bytes(), original);  // checksum 0x1C92C840 recomputed to itself
    }
}

// What `info` and `check` say about the image, then what a write does.
TEST_F(ImageCorpusTest, ImageProblemsAreReportedAndAWriteStoresTheRightChecksum)
{
    auto image = Open("imac/System 7.1.2 Disk Tools FD.badsum-810cb28e.dsk", 512);
    if (!image) GTEST_SKIP() << "corpus not present";
    const std::string badSum = image->path;
    const std::string cut = image->dir.WriteFile("appended.dsk", [&] {
        Bytes bytes = original;
        bytes.resize(bytes.size() + 1000, 0xA5);  // the header's sizes no longer add up
        return bytes;
    }());
    CloseAllImages();
    const auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), QUAYLINK_CLI_PATH);
        const CommandResult r = RunCommand(args);
        return std::to_string(r.exitCode) + " " + r.out + r.err;
    };
    const std::string stale = "Image warning: the DiskCopy 4.2 data checksum stored in the image (E73C0E60) does not "
                              "match its data (D7230362)\n";
    const std::string sizes = "2 No Mac HFS volumes found: " + cut +
                              ": the file starts with a DiskCopy 4.2 header whose sizes (1474560 bytes of disk data, 0 "
                              "of tags) do not match the 1475560 bytes after it\n";
    struct Step {
        std::vector<std::string> args;
        std::string wanted;  // in the exit status and output
    };
    const Step steps[] = {
        {{"info", badSum}, stale},
        {{"check", badSum}, "0 " + stale},
        {{"mkdir", badSum, ":New"}, "0 "},
        {{"check", badSum}, "0 " + badSum + "@1: volume Disk Tools is consistent"},
        {{"ls", cut}, sizes},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[0] + " " + step.args[1]);
        const std::string said = run(step.args);
        EXPECT_NE(said.find(step.wanted), std::string::npos) << said;
    }
    EXPECT_EQ(run({"info", badSum}).find("Image warning"), std::string::npos);
}

}  // namespace
