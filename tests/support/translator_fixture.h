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

#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "translate/names.h"
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
// A file of pattern forks of the given sizes (seeded), with dates, type
// TEXT, creator ttxt and Finder flags 0x2104.
MacFileImage SampleMacFile(const std::string& name, size_t dataSize, size_t rsrcSize, uint32_t seed);

// What two Mac files are compared on: name, type, creator, the Finder flags
// under `flagMask` (the peer tools drop some), both forks, and the dates
// unless `dates` is false (BinHex keeps none).
struct MacFileCompare {
    uint16_t flagMask = 0xFFFF;
    bool dates = true;
};
void ExpectSameMacFile(const MacFileImage& got, const MacFileImage& want, const std::string& what,
                       MacFileCompare compare = {});

// A window system that answers the Mac name-clash dialog with `answer`
// and records the template of every dialog run.
class ClashWindowSystem : public RecordingWindowSystem {
public:
    intptr_t RunDialog(WindowHandle, const char* templateName, DialogProc, intptr_t) override
    {
        dialogs.push_back(templateName ? templateName : "");
        return answer;
    }
    std::vector<std::string> dialogs;
    intptr_t answer = kAnswerSkip;
};

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

// The size of the volumes made with hfsutils for the oracle tests.
constexpr uint64_t kOracleImageBytes = 4ull << 20;

// A translator that carries a whole Mac file (both forks and its Finder
// information) in one PC file.
struct WholeFileFormat {
    MacToPcOperation encode;
    PcToMacOperation decode;
    const char* extension;   // of the PC files the encoder names
    bool keepsDates;
};
extern const WholeFileFormat kMacBinaryFormat;
extern const WholeFileFormat kBinHexFormat;

// The checks both such translators share. `encoded` arguments are files the
// test side wrote in the format under test.
//
//   class BinHexTranslator : public WholeFileTranslatorTest {
//   protected:
//       BinHexTranslator() : WholeFileTranslatorTest(kBinHexFormat) {}
//   };
//   TEST_F(BinHexTranslator, MacReadFailureLeavesNoPcFile) { ExpectMacReadFailuresLeaveNoPcFile(); }
class WholeFileTranslatorTest : public TranslatorTest {
protected:
    explicit WholeFileTranslatorTest(const WholeFileFormat& format) : format_(format) {}

    // One command each; they return its status.
    uint32_t Encode(const std::string& macName, uint32_t folderId = kRootFolderId);
    uint32_t Decode(const std::string& pcName);
    // The PC name the encoder gives `macName` when it is free.
    std::string EncodedName(const std::string& macName) const;
    // Decodes `pcName` into the root and compares the file it made with `want`.
    void ExpectDecodesTo(const std::string& pcName, const MacFileImage& want, const std::string& what,
                         uint16_t flagMask = 0xFFFF);
    void ExpectVolumeClean(const std::string& what = "");

    // Each input is refused with code 16 and leaves the root as it was.
    void ExpectRefused(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& inputs);
    // On the mini volume: `replacement`, named like one of its files, goes
    // to the clash dialog; Skip keeps the old file, OverWrite replaces it.
    void ExpectTakenNameGoesToTheClashDialog(const MacFileImage& replacement, const std::vector<uint8_t>& encoded);
    // Every device write of the decode of `file` failed in turn (the
    // write-back that ends the command is the flush's own business): the
    // drive's code, and after the discard nothing of the file on the medium.
    void ExpectMacWriteFailuresLeaveNothing(const MacFileImage& file, const std::vector<uint8_t>& encoded);
    // Device reads failed in turn while a file of the mini volume is encoded:
    // the drive's code and no PC file, until the encode gets through.
    void ExpectMacReadFailuresLeaveNoPcFile();
    // Cancel from the progress window while encoding, and at the first and
    // third pump while decoding `encoded` (a large file): code 120 and no
    // file on either side.
    void ExpectCancelLeavesNoFile(const std::vector<uint8_t>& encoded);
    // Every PC write of the encode of `file` failed in turn, or wrote
    // nothing: code 103 or 100, no partial PC file, and a file it was to
    // replace as it was.
    void ExpectPcWriteFailuresLeaveNoPartialFile(const MacFileImage& file);
    // Every PC read of the decode of `encoded` failed in turn: code 102 (the
    // first read: `firstReadFailure`), and nothing of the file on the volume.
    void ExpectPcReadFailuresCreateNothing(const std::vector<uint8_t>& encoded, uint32_t firstReadFailure);

    // Against hfsutils. A 4 MB volume formatted by hfsutils with `files` in
    // its root; returns its path.
    std::string HfsutilsSourceImage(HfsUtils& hfs, const std::vector<MacFileImage>& files);
    // Opens the image `path` and encodes each of `files` of its root, each
    // PC file moved to the image directory (`written`) as it is made;
    // `onSource` gets each file as the volume holds it.
    void EncodeEachApart(const std::string& path, const std::vector<MacFileImage>& files,
                         std::vector<MacFileImage>* onSource, std::vector<std::string>* written);
    // Decodes the PC files `pcNames` onto a new hfsutils-formatted volume,
    // comparing each with `want`; then hfsutils reads the volume back.
    void DecodeOntoNewVolume(const std::vector<std::string>& pcNames, const std::vector<MacFileImage>& want,
                             const std::string& what, uint16_t flagMask = 0xFFFF);

    const WholeFileFormat format_;

private:
    unsigned newVolumes_ = 0;
};
