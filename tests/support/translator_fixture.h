// Running the translators as a copy command does: a writable Mac volume
// opened as the Mac drive with its root as the current folder, a scratch PC
// directory as the current directory, and the end of the command (flush on
// success, report and discard on failure).
//
//   class MyTest : public TranslatorTest {};
//   TEST_F(MyTest, Encodes) {
//       ASSERT_TRUE(OpenMiniVolume());
//       MacBinaryMacToPc(MacName("Alpha").data(), kRootFolderId);
//       EXPECT_EQ(FinishCommand(), 0u);
//       std::vector<uint8_t> bin = ReadPc("Alpha.bin");
//   }
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/engine_state.h"
#include "support/macbinary_file.h"
#include "support/temp_image.h"
#include "translate/registry.h"

// A length-prefixed Mac name (at most 255 characters are kept).
std::vector<uint8_t> MacName(const std::string& name);

// Both forks and the Finder information of the file (parentId, name) of the
// open volume, read through the catalog and the fork reader. `finderInfo`
// (16 bytes), when given, receives the catalog's Finder info as it is.
bool ReadMacFile(uint32_t parentId, const std::string& name, MacFileImage* out, uint8_t* finderInfo = nullptr);
// Creates `file` in the Mac pane's current folder through the byte streams
// (name, type, creator, Finder flags, dates, both forks) and flushes.
bool PutMacFile(const MacFileImage& file);
// The names in a folder of the open volume, as the Mac pane lists it.
std::vector<std::string> MacFolderNames(uint32_t folderId);

// Files for the encoders and decoders to chew on: empty forks, sizes either
// side of 128 and of the 32 KB stream buffer, long runs of one byte, the
// byte 0x90 alone and in runs, a 31-character name, Mac characters above
// 0x7F, assorted Finder flags and dates. Names hold no character the
// hfsutils tools would expand as a pattern.
std::vector<MacFileImage> TranslatorSampleFiles();

class TranslatorTest : public EngineStateTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `image` into the scratch image directory, opens it writable as
    // the Mac drive and opens its first volume (root listed).
    bool OpenVolumeBytes(const std::vector<uint8_t>& image);
    // Opens an existing image file the same way.
    bool OpenVolumeFile(const std::string& path);
    // The mini volume of tests/support/mini_volume.h.
    bool OpenMiniVolume();
    // Drops the volume and the drive (after a flush the image file holds
    // everything written).
    void CloseVolume();

    // The end of a command: FlushVolume when StatusCode is 0, else
    // ReportStatus (which discards the unwritten changes). Returns the
    // command's status and leaves StatusCode 0.
    uint32_t FinishCommand();
    // True when CheckVolume finds nothing wrong with the open volume.
    bool VolumeClean(std::string* why);

    // PC files in the scratch directory (which is the current directory).
    std::string PcPath(const std::string& name) const { return pc.PathOf(name); }
    void WritePc(const std::string& name, const std::vector<uint8_t>& bytes) const { pc.WriteFile(name, bytes); }
    std::vector<uint8_t> ReadPc(const std::string& name) const { return ReadFileBytes(pc.PathOf(name)); }
    std::vector<std::string> PcFiles() const;

    TempDir pc;
    TempDir images;
    std::string imagePath;

private:
    std::string savedDirectory_;
    Translator savedTable_[TranslatorLimit];
    unsigned savedCount_ = 0;
};
