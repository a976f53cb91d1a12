// Seeded random write runs against a model of the volume, checked after
// every flush and by hfsutils at the end. QUAYLINK_LONG=1 runs longer;
// QUAYLINK_SEED=n replaces the seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "core/window_system.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/bitmap.h"
#include "hfs/btree_node.h"
#include "hfs/btree_update.h"
#include "hfs/catalog_keys.h"
#include "hfs/fork_io.h"
#include "hfs/format.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/hfsutils_driver.h"
#include "support/run_command.h"
#include "support/shadow_volume.h"
#include "support/temp_image.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every run of blocks the drive writes, so that a failed command can be
// checked against the bitmap of the last flush without a copy of the image.
DriveTransferOp g_driveWrite = nullptr;
std::vector<std::pair<uint32_t, uint16_t>> g_writtenRuns;

int32_t RecordedWrite(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    g_writtenRuns.emplace_back(first, count);
    return g_driveWrite(buffer, count, first, entry);
}

bool LongRun()
{
    const char* v = std::getenv("QUAYLINK_LONG");
    return v && std::strcmp(v, "1") == 0;
}

std::vector<uint32_t> Seeds(std::vector<uint32_t> normal, std::vector<uint32_t> extra)
{
    if (const char* v = std::getenv("QUAYLINK_SEED")) return {static_cast<uint32_t>(std::strtoul(v, nullptr, 0))};
    if (LongRun()) normal.insert(normal.end(), extra.begin(), extra.end());
    return normal;
}

// How one run is shaped.
struct Profile {
    const char* label;
    uint64_t volumeBytes;
    unsigned crowdEntries;       // entries made in the crowded folder
    unsigned mixedOps;           // random operations all over the tree
    unsigned deepDepth;          // depth the deep trees reach
    unsigned fullEvents;         // disk-full failures to reach
    uint32_t largeFile;          // the largest file of the mixed phase
    uint32_t fillFile;           // the largest file of the fill phase
    unsigned checkEvery;         // flushes between checks (1: every flush)
    unsigned compareEvery;       // operations between full comparisons with the model
    bool snapshotAlways;         // keep the image of every flush and compare it after failures
    unsigned drainPercent;       // share of the crowded folder deleted again, in random order
    unsigned fragmentFiles;      // one-block files made, then every other deleted, to fragment the disk
    double freeAfterFill = 0.3;  // share of the volume made free after the fill phase
    bool hfsutilsBytes = true;   // false: hfsutils lists the tree at the end but copies nothing out
};

struct Stats {
    unsigned ops = 0;
    uint16_t catalogDepth = 0;
    unsigned catalogMapNodes = 0;
};

class WriteSequences : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        CurrentOptions.hideInvisible = false;
        SetWindowSystem(&ws_);
    }

    bool Open()
    {
        if (!OpenImageAsMacDrive(path_.c_str(), true) || !OpenListedVolume(0)) {
            ADD_FAILURE() << "cannot open the volume: status " << StatusCode;
            return false;
        }
        slot_ = static_cast<int>(DriveTable[MacDriveIndex].Unit);
        g_driveWrite = DriveTable[MacDriveIndex].WriteSectors;
        DriveTable[MacDriveIndex].WriteSectors = RecordedWrite;
        g_writtenRuns.clear();
        return ImageTable[slot_].used;
    }

    uint32_t FreeBlocks() const { return GetU16(MacVolume.mdb->data + kMdbFreeBlocks); }
    uint32_t AllocBytes() const { return uint32_t{MacVolume.allocBlockSize} * 512; }

    // The blocks of the image that were free allocation blocks in `image`.
    std::vector<bool> FreeBlockMap(const Bytes& image) const
    {
        std::vector<bool> free(image.size() / 512, false);
        const uint8_t* mdb = image.data() + 1024;
        const uint32_t bitmap = GetU16(mdb + kMdbBitmapStart);
        const uint32_t count = GetU16(mdb + kMdbAllocBlocks);
        const uint32_t per = GetU32(mdb + kMdbAllocBlockSize) / 512;
        const uint32_t first = GetU16(mdb + kMdbFirstAllocBlock);
        for (uint32_t a = 0; a < count; ++a) {
            const uint8_t byte = image[size_t{bitmap} * 512 + a / 8];
            if (byte & (0x80 >> (a % 8))) continue;
            for (uint32_t b = 0; b < per; ++b) free[first + a * per + b] = true;
        }
        return free;
    }

    // After a failed command: the image is the one of the last flush, but
    // for file data written into blocks that were free then.
    void ExpectImageAsAtFlush()
    {
        const Bytes now = ReadFileBytes(path_);
        ASSERT_EQ(now.size(), snapshot_.size());
        if (g_writtenRuns.empty()) {
            EXPECT_TRUE(now == snapshot_) << "the image changed although nothing was written";
            return;
        }
        const std::vector<bool> free = FreeBlockMap(snapshot_);
        unsigned changed = 0;
        for (size_t b = 0; b < free.size(); ++b) {
            if (free[b]) continue;
            if (std::memcmp(now.data() + b * 512, snapshot_.data() + b * 512, 512) != 0 && ++changed <= 5)
                ADD_FAILURE() << "block " << b << " changed, and it was not free at the last flush";
        }
    }

    void ExpectOnlyFreeBlocksWritten()
    {
        unsigned wrong = 0;
        for (const auto& [first, count] : g_writtenRuns) {
            for (uint32_t b = first; b < first + count; ++b) {
                const uint32_t v = b - MacVolume.partitionStart;
                const bool inArea = v >= MacVolume.firstAllocBlock &&
                                    (v - MacVolume.firstAllocBlock) / MacVolume.allocBlockSize < VolumeAllocBlockCount();
                const bool free = inArea && !AllocationBlockUsed(static_cast<uint16_t>(
                                                (v - MacVolume.firstAllocBlock) / MacVolume.allocBlockSize));
                if (!free && ++wrong <= 5) ADD_FAILURE() << "block " << b << " was written by a command that failed";
            }
        }
    }

    void TakeSnapshot()
    {
        if (profile_.snapshotAlways) snapshot_ = ReadFileBytes(path_);
        freeAtFlush_ = FreeBlocks();
        g_writtenRuns.clear();
    }

    // How far the catalog has grown: its depth and its chain of map nodes.
    void RecordShape()
    {
        const uint8_t* cat = MacVolume.catalogHeader->data;
        stats_.catalogDepth = std::max(stats_.catalogDepth, GetU16(cat + kHeaderDepth));
        unsigned maps = 0;
        for (uint32_t next = NodeForwardLink(MacVolume.catalogHeader); next != 0 && maps < 100; ++maps) {
            BlockBuffer* node = nullptr;
            if (ReadForkNode(&node, next, kDataFork, &MacVolume.catalogFile) < 1) break;
            next = NodeForwardLink(node);
        }
        StatusCode = 0;
        stats_.catalogMapNodes = std::max(stats_.catalogMapNodes, maps);
    }

    // The checker finds nothing, or (on a volume that came with problems)
    // nothing it did not find before the first write.
    void Check(const char* when)
    {
        std::vector<std::string> problems;
        CheckVolume(&problems);
        std::string fresh;
        unsigned count = 0;
        for (const std::string& p : problems)
            if (!knownProblems_.count(p) && ++count <= 12) fresh += p + "\n";
        EXPECT_EQ(count, 0u) << when << " (op " << stats_.ops << "):\n" << fresh;
        RecordShape();
    }

    void Compare(bool bytes)
    {
        std::string why;
        EXPECT_TRUE(EngineMatches(model_, bytes, &why)) << "op " << stats_.ops << ":\n" << why;
    }

    // Closes and opens the image again, so that nothing the cache holds can
    // hide what the medium holds.
    void Reopen(bool bytes)
    {
        CloseMacDrive();
        ASSERT_TRUE(Open());
        Check("after a fresh open");
        Compare(bytes);
    }

    // Runs `op` as one command and checks its outcome against the model.
    // Returns the command's status.
    uint32_t Run(const WriteOp& op)
    {
        ++stats_.ops;
        const uint32_t expected = model_.Expect(op);
        const uint64_t opBytes =
            op.kind == WriteOp::CreateFile ? uint64_t{op.file.data.size} + op.file.rsrc.size : 0;
        const uint32_t freeBefore = FreeBlocks();
        const int messagesBefore = ws_.messageCount;
        uint32_t newId = 0;
        uint32_t status = RunEngineOp(&model_, op, &newId);
        status = EndCommand(status);
        EXPECT_EQ(StatusCode, 0u);
        if (status == 0) {
            EXPECT_EQ(ws_.messageCount, messagesBefore) << "a command that succeeded showed a message";
            EXPECT_EQ(expected, 0u) << "op " << stats_.ops << " on " << op.folder->Path() << " \"" << op.name
                                    << "\" should have failed";
            model_.Apply(op, newId);
            if (++sinceCheck_ >= profile_.checkEvery) {
                sinceCheck_ = 0;
                Check("after a flush");
            }
            TakeSnapshot();
            return 0;
        }
        // The report showed the failure's message once.
        char message[96];
        StatusMessage(status, message, sizeof message);
        EXPECT_STREQ(ws_.lastText, message);
        EXPECT_EQ(ws_.messageCount, messagesBefore + 1);
        if (status == kStatusDiskFull) {
            const uint64_t needed = (opBytes + AllocBytes() - 1) / AllocBytes() +
                                    GetU32(MacVolume.mdb->data + kMdbCatalogClump) / AllocBytes() +
                                    GetU32(MacVolume.mdb->data + kMdbExtentsClump) / AllocBytes() + 4;
            const bool extentsStuck = GetU16(MacVolume.mdb->data + kMdbExtentsExtents + 10) != 0;
            EXPECT_TRUE(needed > freeBefore || extentsStuck)
                << "disk full with " << freeBefore << " free blocks for " << opBytes << " bytes";
        } else {
            EXPECT_EQ(status, expected) << "op " << stats_.ops << " kind " << op.kind << " on " << op.folder->Path()
                                        << " \"" << op.name << "\" -> \"" << op.newName << "\"";
        }
        // The discard brought back the state of the last flush.
        EXPECT_EQ(FreeBlocks(), freeAtFlush_);
        ExpectOnlyFreeBlocksWritten();
        if (profile_.snapshotAlways) ExpectImageAsAtFlush();
        Check("after a discard");
        if (status == kStatusDiskFull) Compare(false);
        return status;
    }

    std::string RandomName(unsigned minLength = 1, unsigned maxLength = 31)
    {
        static const std::string kAlphabet = [] {
            std::string a;
            for (int c = 0x20; c < 0x7F; ++c)
                if (c != ':' && !HasHfsGlobCharacter(std::string(1, static_cast<char>(c)))) a += static_cast<char>(c);
            // Some Mac letters above 0x7F, upper and lower case.
            for (int c : {0x80, 0x83, 0x85, 0x87, 0x8A, 0x8E, 0x96, 0x9A, 0xA7, 0xAE, 0xBF, 0xCB, 0xD8})
                a += static_cast<char>(c);
            return a;
        }();
        const unsigned length = minLength + rng_() % (maxLength - minLength + 1);
        std::string name;
        for (unsigned i = 0; i < length; ++i) name += kAlphabet[rng_() % kAlphabet.size()];
        return name;
    }

    // An existing name of the folder written in other letter case: a clash.
    std::string ClashingName(const ShadowNode* folder)
    {
        if (folder->children.empty()) return RandomName();
        auto it = folder->children.begin();
        std::advance(it, static_cast<long>(rng_() % folder->children.size()));
        std::string name = it->first;
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        return name;
    }

    std::string RandomCode()
    {
        std::string code;
        for (int i = 0; i < 4; ++i) code += static_cast<char>(0x20 + rng_() % 0x5F);
        return code;
    }

    uint32_t RandomSize(uint32_t largest)
    {
        const unsigned pick = rng_() % 100;
        uint32_t limit = pick < 20 ? 0 : pick < 45 ? 1024 : pick < 70 ? 16384 : pick < 90 ? 262144 : largest;
        limit = std::min(limit, largest);
        return limit == 0 ? 0 : static_cast<uint32_t>(rng_() % (limit + 1));
    }

    ShadowFile RandomFile(uint32_t largest)
    {
        ShadowFile f;
        f.type = RandomCode();
        f.creator = RandomCode();
        f.data = ShadowFork{static_cast<uint32_t>(rng_()) | 1u, RandomSize(largest), nullptr};
        f.rsrc = ShadowFork{static_cast<uint32_t>(rng_()) | 1u, rng_() % 2 ? RandomSize(largest / 4) : 0, nullptr};
        return f;
    }

    WriteOp CreateFile(ShadowNode* folder, uint32_t largest, const std::string& name)
    {
        WriteOp op;
        op.kind = WriteOp::CreateFile;
        op.folder = folder;
        op.name = name;
        op.file = RandomFile(largest);
        op.created = rng_() % 4 ? 0 : 0xB0000000u + rng_() % 0x10000000u;
        op.chunkSeed = static_cast<uint32_t>(rng_());
        return op;
    }

    // One random operation in `folder`.
    WriteOp RandomOp(ShadowNode* folder, uint32_t largest)
    {
        const unsigned pick = rng_() % 100;
        WriteOp op;
        op.folder = folder;
        auto randomChild = [&](bool wantFolder) -> ShadowNode* {
            std::vector<ShadowNode*> fit;
            for (auto& [n, child] : folder->children)
                if (child->folder == wantFolder) fit.push_back(child.get());
            return fit.empty() ? nullptr : fit[rng_() % fit.size()];
        };
        if (pick < 35) return CreateFile(folder, largest, pick < 3 ? ClashingName(folder) : RandomName());
        if (pick < 47) {
            op.kind = WriteOp::CreateFolder;
            op.name = pick == 35 ? ClashingName(folder) : pick == 36 ? (rng_() % 2 ? "" : "Bad:name") : RandomName();
            return op;
        }
        if (pick < 60) {
            ShadowNode* item = rng_() % 3 ? randomChild(false) : randomChild(true);
            if (!item) return CreateFile(folder, largest, RandomName());
            op.kind = WriteOp::Rename;
            op.name = item->name;
            const unsigned how = rng_() % 10;
            if (how == 0) {
                op.newName = ClashingName(folder);
            } else if (how == 1) {
                // The same name in other letters: allowed.
                op.newName = item->name;
                for (char& c : op.newName)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            } else {
                op.newName = RandomName();
            }
            return op;
        }
        if (pick < 68) {
            ShadowNode* item = randomChild(false);
            if (!item) return CreateFile(folder, largest, RandomName());
            op.kind = WriteOp::SetType;
            op.name = item->name;
            op.file.type = RandomCode();
            op.file.creator = RandomCode();
            return op;
        }
        if (pick < 90) {
            ShadowNode* item = randomChild(false);
            if (!item) return CreateFile(folder, largest, RandomName());
            op.kind = WriteOp::DeleteFile;
            op.name = item->name;
            return op;
        }
        ShadowNode* item = randomChild(true);
        if (!item) return CreateFile(folder, largest, RandomName());
        op.kind = WriteOp::DeleteFolder;
        op.name = item->name;
        return op;
    }

    // Thousands of entries in one folder: a catalog of several index levels
    // that grows its file and its node map.
    void Crowd()
    {
        if (profile_.crowdEntries == 0) return;
        WriteOp make;
        make.kind = WriteOp::CreateFolder;
        make.folder = model_.Root();
        make.name = "Crowd";
        ASSERT_EQ(Run(make), 0u);
        ShadowNode* crowd = model_.Find(":Crowd");
        ASSERT_NE(crowd, nullptr);
        unsigned guard = 0;
        while (crowd->children.size() < profile_.crowdEntries && ++guard < profile_.crowdEntries * 3) {
            WriteOp op;
            const unsigned pick = rng_() % 100;
            if (pick < 80) {
                op = CreateFile(crowd, 2048, RandomName(20, 31));
            } else if (pick < 85) {
                op.kind = WriteOp::CreateFolder;
                op.folder = crowd;
                op.name = RandomName(20, 31);
            } else {
                op = RandomOp(crowd, 2048);
            }
            Run(op);
            if (HasFatalFailure() || HasFailure()) return;
        }
        Check("after the crowded folder");
        Compare(false);
    }

    // Deletes `percent` of the crowded folder's entries in random order: the
    // catalog shrinks back, leaves are emptied and levels collapse.
    void Drain()
    {
        ShadowNode* crowd = model_.Find(":Crowd");
        if (!crowd || profile_.drainPercent == 0) return;
        std::vector<WriteOp> deletes;
        for (auto& [name, child] : crowd->children) {
            if (child->folder && !child->children.empty()) continue;
            deletes.push_back(MakeWriteOp(child->folder ? WriteOp::DeleteFolder : WriteOp::DeleteFile, crowd, name));
        }
        std::shuffle(deletes.begin(), deletes.end(), rng_);
        deletes.resize(deletes.size() * profile_.drainPercent / 100);
        for (const WriteOp& op : deletes) {
            Run(op);
            if (HasFailure()) return;
        }
        Check("after draining the crowded folder");
        Compare(false);
    }

    void Fragment()
    {
        if (profile_.fragmentFiles == 0) return;
        if (Run(MakeWriteOp(WriteOp::CreateFolder, model_.Root(), "Fragments")) != 0) return;
        ShadowNode* frag = model_.Find(":Fragments");
        ASSERT_NE(frag, nullptr);
        std::vector<std::string> names;
        for (unsigned i = 0; i < profile_.fragmentFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Piece %05u", i);
            WriteOp op = CreateFile(frag, 0, name);
            op.file.data.size = AllocBytes();
            op.file.rsrc.size = 0;
            if (Run(op) != 0) break;
            names.push_back(name);
            if (HasFailure()) return;
        }
        for (size_t i = 1; i < names.size(); i += 2) {
            Run(MakeWriteOp(WriteOp::DeleteFile, frag, names[i]));
            if (HasFailure()) return;
        }
        std::vector<std::string> big;
        for (int i = 0; i < 6; ++i) {
            const uint64_t free = uint64_t{FreeBlocks()} * AllocBytes();
            WriteOp op = CreateFile(frag, 0, "Scattered " + std::to_string(i));
            op.file.data.size = static_cast<uint32_t>(free / 4);
            op.file.rsrc.size = static_cast<uint32_t>(free / 8);
            if (i % 2 == 0) {
                op.file.data.size = op.file.rsrc.size = static_cast<uint32_t>(free / 3);
                op.chunkBytes = AllocBytes();
            }
            const uint32_t status = Run(op);
            if (HasFailure()) return;
            RecordShape();
            if (status == 0) big.push_back(op.name);
        }
        Check("after fragmenting");
        Compare(true);
        // Deleting them removes hundreds of overflow records.
        for (const std::string& name : big) {
            Run(MakeWriteOp(WriteOp::DeleteFile, frag, name));
            if (HasFailure()) return;
        }
        for (size_t i = 0; i < names.size(); i += 2) {
            if (rng_() % 3 == 0) continue;  // some stay behind
            Run(MakeWriteOp(WriteOp::DeleteFile, frag, names[i]));
            if (HasFailure()) return;
        }
        Check("after removing the fragments");
        Compare(false);
    }

    // Chains of folders, with files on the way down.
    void Deep()
    {
        if (profile_.deepDepth == 0) return;
        for (int tree = 0; tree < 3; ++tree) {
            ShadowNode* at = model_.Root();
            for (unsigned level = 0; level < profile_.deepDepth; ++level) {
                WriteOp op;
                op.kind = WriteOp::CreateFolder;
                op.folder = at;
                op.name = RandomName(1, 12);
                if (Run(op) != 0) continue;
                at = at->children.at(op.name).get();
                if (rng_() % 3 == 0) Run(CreateFile(at, 8192, RandomName()));
                if (HasFailure()) return;
            }
        }
    }

    ShadowNode* PickFolder()
    {
        std::vector<ShadowNode*> folders = model_.Folders();
        // Deep folders and the root are picked more often than their share.
        if (rng_() % 4 == 0) return model_.Root();
        if (rng_() % 3 == 0) {
            std::sort(folders.begin(), folders.end(),
                      [](const ShadowNode* a, const ShadowNode* b) { return a->Depth() > b->Depth(); });
            folders.resize(std::min<size_t>(folders.size(), 8));
        }
        return folders[rng_() % folders.size()];
    }

    void Mixed()
    {
        std::vector<ShadowNode*> folders = model_.Folders();
        for (unsigned i = 0; i < profile_.mixedOps; ++i) {
            if (i % 50 == 0) folders = model_.Folders();
            ShadowNode* folder = rng_() % 4 == 0 ? model_.Root() : folders[rng_() % folders.size()];
            // The folder may have gone since the list was made.
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folder = model_.Root();
            const uint32_t status = Run(RandomOp(folder, profile_.largeFile));
            if (status == kStatusDiskFull) MakeRoom(0.25);
            // A deleted folder leaves a dangling pointer in the list.
            folders = model_.Folders();
            if (HasFailure()) return;
            if (profile_.compareEvery && stats_.ops % profile_.compareEvery == 0) {
                Reopen(profile_.snapshotAlways);
                if (HasFailure()) return;
            }
        }
    }

    // Big files until the disk is full, then deletes to make room, and again.
    void Fill()
    {
        unsigned guard = 0;
        unsigned events = 0;
        while (events < profile_.fullEvents && ++guard < 2000) {
            ShadowNode* folder = PickFolder();
            WriteOp op = CreateFile(folder, profile_.fillFile, RandomName());
            if (rng_() % 2) op.file.data.size = profile_.fillFile / 2 + rng_() % (profile_.fillFile / 2);
            if (rng_() % 4 == 0) {
                // Folders fill the catalog when the blocks are gone.
                op = WriteOp{};
                op.kind = WriteOp::CreateFolder;
                op.folder = folder;
                op.name = RandomName(20, 31);
            }
            const uint32_t status = Run(op);
            if (HasFailure()) return;
            if (status != kStatusDiskFull) continue;
            ++events;
            // Make some room: delete a few files, the larger first.
            std::vector<ShadowNode*> files = model_.Files();
            std::sort(files.begin(), files.end(), [](const ShadowNode* a, const ShadowNode* b) {
                return uint64_t{a->file.data.size} + a->file.rsrc.size > uint64_t{b->file.data.size} + b->file.rsrc.size;
            });
            files.resize(std::min<size_t>(files.size(), 1 + rng_() % 4));
            std::vector<WriteOp> deletes;
            for (const ShadowNode* file : files) {
                WriteOp del;
                del.kind = WriteOp::DeleteFile;
                del.folder = file->parent;
                del.name = file->name;
                deletes.push_back(del);
            }
            for (const WriteOp& del : deletes) {
                Run(del);
                if (HasFailure()) return;
            }
        }
        EXPECT_EQ(events, profile_.fullEvents) << "the disk never filled";
    }

    // Deletes the largest files until `share` of the volume is free.
    void MakeRoom(double share)
    {
        std::vector<ShadowNode*> files = model_.Files();
        std::sort(files.begin(), files.end(), [](const ShadowNode* a, const ShadowNode* b) {
            return uint64_t{a->file.data.size} + a->file.rsrc.size > uint64_t{b->file.data.size} + b->file.rsrc.size;
        });
        std::vector<WriteOp> deletes;
        for (const ShadowNode* file : files) {
            WriteOp del;
            del.kind = WriteOp::DeleteFile;
            del.folder = file->parent;
            del.name = file->name;
            deletes.push_back(del);
        }
        for (const WriteOp& del : deletes) {
            if (FreeBlocks() >= share * VolumeAllocBlockCount()) return;
            Run(del);
            if (HasFailure()) return;
        }
    }

    // A volume to start from instead of an empty one.
    struct Source {
        std::string path;
        bool gzipped = false;
        int partition = 0;          // for hfsutils: the partition of a partitioned image
        bool hfsutils = true;       // false: hfsutils cannot read the image (DiskCopy 4.2)
    };

    void RunProfile(const Profile& profile, uint32_t seed, bool formatOurselves = false, const Source* source = nullptr)
    {
        profile_ = profile;
        rng_.seed(seed);
        SCOPED_TRACE(std::string(profile.label) + ", seed " + std::to_string(seed));
        path_ = dir_.PathOf("volume.img");
        if (source && source->gzipped) {
            CommandOptions options;
            options.outFile = path_;
            ASSERT_EQ(RunCommand({"gunzip", "-c", source->path}, options).exitCode, 0);
        } else if (source) {
            dir_.WriteFile("volume.img", ReadFileBytes(source->path));
        } else if (formatOurselves) {
            // Our own empty diskette, with its Desktop file.
            std::remove(path_.c_str());
            ASSERT_TRUE(CreateDisketteImage(path_.c_str()));
            OpenImageAsMacDrive(path_.c_str(), true);
            ASSERT_EQ(DriveCount, 1u);
            ASSERT_TRUE(SetVolumeLabel("Seq Vol"));
            StatusCode = 0;
            WriteEmptyVolume(&DriveTable[0]);
            ASSERT_EQ(StatusCode, 0u);
            CloseMacDrive();
        } else {
            ASSERT_TRUE(hfs_.Format(path_, "Seq Vol", profile.volumeBytes)) << hfs_.LastError();
        }
        ASSERT_TRUE(Open());
        std::string why;
        ASSERT_TRUE(model_.LoadFromEngine(&why)) << why;
        knownProblems_.clear();
        if (source) {
            std::vector<std::string> problems;
            CheckVolume(&problems);
            knownProblems_.insert(problems.begin(), problems.end());
        }
        Check("before the first write");
        TakeSnapshot();

        Crowd();
        if (!HasFailure()) Drain();
        if (!HasFailure()) Fragment();
        if (!HasFailure()) Deep();
        if (!HasFailure()) Mixed();
        if (!HasFailure()) Fill();
        if (!HasFailure()) MakeRoom(profile_.freeAfterFill);
        if (!HasFailure()) Mixed();
        if (HasFailure()) return;
        Check("at the end");
        Reopen(true);
        CloseMacDrive();
        if (!source || source->hfsutils) {
            ASSERT_TRUE(hfs_.MountCopy(path_, source ? source->partition : 0)) << hfs_.LastError();
            EXPECT_TRUE(HfsUtilsMatches(hfs_, model_, profile.hfsutilsBytes, LongRun() ? 1 : 25, &why)) << why;
        }
    }

    Profile profile_{};
    Stats stats_;
    std::mt19937 rng_;
    TempDir dir_;
    HfsUtils hfs_;
    std::string path_;
    int slot_ = -1;
    ShadowVolume model_;
    Bytes snapshot_;
    uint32_t freeAtFlush_ = 0;
    std::set<std::string> knownProblems_;  // problems a corpus volume came with
    HeadlessWindowSystem ws_;
    unsigned sinceCheck_ = 0;
};

// A diskette: checked after every flush, filled again and again; made by
// hformat, and made by our formatter (odd seeds).
TEST_F(WriteSequences, DisketteUntilFull)
{
    const bool longRun = LongRun();
    for (uint32_t seed : Seeds({11, 12}, {13, 14})) {
        stats_ = Stats{};
        model_ = ShadowVolume{};
        const bool ours = seed % 2 == 0;
        Profile profile{"1.44 MB", 1474560, longRun ? 600u : 250u, longRun ? 3000u : 600u, 20, longRun ? 12u : 4u,
                        300 * 1024, 700 * 1024, 1, longRun ? 100u : 200u, true, 80, longRun ? 1600u : 500u};
        if (ours && !longRun) {
            profile.crowdEntries = 120;
            profile.mixedOps = 300;
            profile.fragmentFiles = 0;
        }
        RunProfile(profile, seed, ours);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

// 100 MB: one folder of thousands of entries (several index levels and map
// nodes in the catalog), deep trees, files of several MB, until full.
TEST_F(WriteSequences, HundredMegabytesCrowdedAndFull)
{
    const bool longRun = LongRun();
    for (uint32_t seed : Seeds({21}, {22, 23})) {
        stats_ = Stats{};
        model_ = ShadowVolume{};
        const Profile profile{"100 MB", 100ull * 1024 * 1024, longRun ? 12000u : 6000u, longRun ? 4000u : 800u,
                              40, longRun ? 6u : 2u, 6 * 1024 * 1024, 12 * 1024 * 1024, longRun ? 100u : 400u,
                              longRun ? 1000u : 0u, false, 50, longRun ? 8000u : 0u};
        RunProfile(profile, seed);
        EXPECT_GE(stats_.catalogMapNodes, 1u) << "the crowded folder did not grow the node map";
        EXPECT_GE(stats_.catalogDepth, 3u);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

// 1 GB: allocation blocks of 16 KB (32 blocks each), 65,535 of them, a
// bitmap of 16 blocks, files of up to 200 MB, filled to the last block.
TEST_F(WriteSequences, OneGigabyteLargeAllocationBlocks)
{
    const bool longRun = LongRun();
    for (uint32_t seed : Seeds({31}, {32})) {
        stats_ = Stats{};
        model_ = ShadowVolume{};
        Profile profile{"1 GB", 1024ull * 1024 * 1024, longRun ? 3000u : 300u, longRun ? 2000u : 200u, 10, 1,
                        8 * 1024 * 1024, 200 * 1024 * 1024, longRun ? 50u : 200u, 0, false, 50, 0};
        profile.freeAfterFill = longRun ? 0.5 : 0.95;
        RunProfile(profile, seed);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

TEST_F(WriteSequences, CorpusVolumesTakeChanges)
{
    const std::string corpus = QUAYLINK_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    const bool longRun = LongRun();
    const Source sources[] = {
        {corpus + "/imac/Speed Disk 3.1.3.dsk"},
        {corpus + "/imac/System 6.0.8 - System Startup.img"},
        {corpus + "/opf/JW_disk9_hfstest_9.img"},
        {corpus + "/cp2/simple-gsos.po"},
        {corpus + "/cp2/simple-linux.po"},
        {corpus + "/cp2/apm-prodos-hfs.iso", false, 1},
        {corpus + "/imac/Mac OS 8.1 Disk Tools 68K FD.dsk", false, 0, false},
        {corpus + "/behier/manyExtents.img.gz", true},
        {corpus + "/behier/complex.img.gz", true},
    };
    uint32_t seed = 41;
    for (const Source& source : sources) {
        if (!std::filesystem::exists(source.path)) continue;
        stats_ = Stats{};
        model_ = ShadowVolume{};
        sinceCheck_ = 0;
        const std::string label = std::filesystem::path(source.path).filename().string();
        const bool big = label.rfind("complex", 0) == 0;
        Profile profile{label.c_str(), 0, longRun ? 400u : 60u, longRun ? 1500u : 150u, 12, longRun ? 4u : 2u,
                        200 * 1024, big ? 60u * 1024 * 1024 : 400 * 1024, big ? 50u : 1u, longRun ? 300u : 0u,
                        false, 50, 0};
        // Copying out the 2,000 files of the big one takes hfsutils a minute.
        profile.hfsutilsBytes = longRun || !big;
        RunProfile(profile, seed++, false, &source);
        CloseMacDrive();
        if (HasFailure()) return;
    }
}

TEST_F(WriteSequences, GrowingALargeBTreeFileMapsEveryNewNode)
{
    path_ = dir_.PathOf("large.img");
    ASSERT_TRUE(hfs_.Format(path_, "Large", 1024ull * 1024 * 1024)) << hfs_.LastError();
    ASSERT_TRUE(Open());
    Check("as hformat made it");
    for (ForkRef* tree : {&MacVolume.catalogFile, &MacVolume.extentsFile}) {
        SCOPED_TRACE(tree->fileId == kCatalogFileId ? "catalog" : "extents");
        BlockBuffer* header = tree->fileId == kCatalogFileId ? MacVolume.catalogHeader : MacVolume.extentsHeader;
        const uint32_t before = GetU32(header->data + kHeaderTotalNodes);
        GrowBTreeFile(tree);
        ASSERT_EQ(StatusCode, 0u);
        const uint32_t total = GetU32(header->data + kHeaderTotalNodes);
        ASSERT_GT(total, before + 3936);
        // The map: the header's 2,048 nodes and 3,936 per map node.
        uint32_t mapped = 2048;
        uint32_t last = 0;
        for (uint32_t next = NodeForwardLink(header); next != 0 && mapped < 10 * total;) {
            BlockBuffer* map = nullptr;
            ASSERT_EQ(ReadForkNode(&map, next, kDataFork, tree), 1);
            EXPECT_EQ(NodeType(map), kMapNode) << "node " << next;
            mapped += 3936;
            last = next;
            next = NodeForwardLink(map);
        }
        EXPECT_GE(mapped, total) << "nodes " << mapped << " to " << total - 1 << " are in no map; last map node "
                                 << last;
    }
    EndCommand(0);
    Check("after the growth");
    CloseMacDrive();
    ASSERT_TRUE(Open());
    Check("after a fresh open");
}

}  // namespace
