// Running the translators as a copy command does: a writable Mac volume
// opened as the Mac drive with its root as the current folder, a scratch PC
// directory, scratch PIER.INI and PIER.FTM, and the end of the command
// (flush on success, report and discard on failure).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/mini_volume.h"
#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "translate/names.h"
#include "translate/registry.h"

// A length-prefixed Mac name (at most 255 characters are kept).
std::vector<uint8_t> MacName(const std::string& name);
// Both forks and the Finder information of the file (parentId, name) of the
// open volume; `finderInfo` (16 bytes), when given, gets the catalog's as it is.
bool ReadMacFile(uint32_t parentId, const std::string& name, MacFileImage* out, uint8_t* finderInfo = nullptr);
// Creates `file` in the Mac pane's current folder through the byte streams and flushes.
bool PutMacFile(const MacFileImage& file);
// The names in the open volume's root, as the Mac pane lists it.
std::vector<std::string> MacFolderNames();

// Files for the encoders and decoders: empty forks, sizes either side of 128
// and of the 32 KB stream buffer, runs of one byte and of 0x90, a
// 31-character name, Mac characters above 0x7F, assorted flags and dates.
std::vector<MacFileImage> TranslatorSampleFiles();
// Pattern forks of the given sizes (seeded), dates, TEXT/ttxt, flags 0x2104.
MacFileImage SampleMacFile(const std::string& name, size_t dataSize, size_t rsrcSize, uint32_t seed);

// Compared: name, type, creator, the Finder flags under `flagMask`, both
// forks, and the dates unless `dates` is false (BinHex keeps none).
struct MacFileCompare {
    uint16_t flagMask = 0xFFFF;
    bool dates = true;
};
void ExpectSameMacFile(const MacFileImage& got, const MacFileImage& want, const std::string& what,
                       MacFileCompare compare = {});

class TranslatorTest : public EngineStateTest {
protected:
    void SetUp() override;
    bool OpenVolumeFile(const std::string& path);  // writable, first volume, root listed
    bool OpenMiniVolume() { return OpenVolumeFile(images.WriteFile("volume.img", MakeMiniVolume().bytes)); }
    void CloseVolume();  // after a flush the image file holds everything written
    // The end of a command; returns its status and leaves StatusCode 0.
    uint32_t FinishCommand();
    bool VolumeClean(std::string* why);  // CheckVolume finds nothing wrong
    void ExpectVolumeClean(const std::string& what = "");
    // PC files in the scratch PC directory.
    std::string PcPath(const std::string& name) const { return pc.PathOf(name); }
    void WritePc(const std::string& name, const std::vector<uint8_t>& bytes) const { pc.WriteFile(name, bytes); }
    std::vector<uint8_t> ReadPc(const std::string& name) const { return ReadFileBytes(pc.PathOf(name)); }
    std::vector<std::string> PcFiles() const;
    TempDir pc;
    TempDir images;
    TempDir settings;
    std::string imagePath;
};

// The size of the volumes made with hfsutils for the oracle tests.
constexpr uint64_t kOracleImageBytes = 4ull << 20;

// A translator that carries a whole Mac file in one PC file.
struct WholeFileFormat {
    MacToPcOperation encode;
    PcToMacOperation decode;
    const char* extension;  // of the PC files the encoder names
    bool keepsDates;
};
extern const WholeFileFormat kMacBinaryFormat;
extern const WholeFileFormat kBinHexFormat;

// The checks both such translators share; `encoded` is a file in the format.
class WholeFileTranslatorTest : public TranslatorTest {
protected:
    explicit WholeFileTranslatorTest(const WholeFileFormat& format) : format_(format) {}
    uint32_t Encode(const std::string& macName, uint32_t folderId = kRootFolderId);  // one command: its status
    uint32_t Decode(const std::string& pcName);
    std::string EncodedName(const std::string& macName) const { return macName + "." + format_.extension; }
    // Decodes `pcName` into the root and compares the file it made with `want`.
    void ExpectDecodesTo(const std::string& pcName, const MacFileImage& want, const std::string& what,
                         uint16_t flagMask = 0xFFFF);
    // Each input is refused with code 16 and leaves the root as it was.
    void ExpectRefused(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& inputs);
    // `replacement`, named like a file of the mini volume, goes to the clash
    // dialog; Skip keeps the old file, OverWrite replaces it.
    void ExpectTakenNameGoesToTheClashDialog(const MacFileImage& replacement, const std::vector<uint8_t>& encoded);
    // Every device write of the decode failed in turn: the drive's code, and
    // after the discard nothing of the file on the medium.
    void ExpectMacWriteFailuresLeaveNothing(const MacFileImage& file, const std::vector<uint8_t>& encoded);
    // Device reads failed in turn while encoding: the drive's code and no PC
    // file, until the encode gets through.
    void ExpectMacReadFailuresLeaveNoPcFile();
    // Cancel while encoding, and at the first and third pump while decoding
    // (a large file): code 120 and no file on either side.
    void ExpectCancelLeavesNoFile(const std::vector<uint8_t>& encoded);
    // Every PC write of the encode failed in turn, or wrote nothing: code 103
    // or 100, no partial PC file, and a file it was to replace as it was.
    void ExpectPcWriteFailuresLeaveNoPartialFile(const MacFileImage& file);
    // Every PC read of the decode failed in turn: code 102 (the first read:
    // `firstReadFailure`), and nothing of the file on the volume.
    void ExpectPcReadFailuresCreateNothing(const std::vector<uint8_t>& encoded, uint32_t firstReadFailure);
    // Against hfsutils: a 4 MB volume formatted by hfsutils with `files` in its root.
    std::string HfsutilsSourceImage(HfsUtils& hfs, const std::vector<MacFileImage>& files);
    // Encodes each of `files` of the image's root, each PC file moved to the
    // image directory (`written`); `onSource` gets each file as the volume holds it.
    void EncodeEachApart(const std::string& path, const std::vector<MacFileImage>& files,
                         std::vector<MacFileImage>* onSource, std::vector<std::string>* written);
    // Decodes `pcNames` onto a new hfsutils-formatted volume, comparing each
    // with `want`; then hfsutils reads the volume back.
    void DecodeOntoNewVolume(const std::vector<std::string>& pcNames, const std::vector<MacFileImage>& want,
                             const std::string& what, uint16_t flagMask = 0xFFFF);
    const WholeFileFormat format_;

private:
    unsigned newVolumes_ = 0;
};
