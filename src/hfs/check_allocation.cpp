// Forks and allocation blocks: each fork's extents (the first three in its
// catalog record or, for the B-tree files, the MDB; the rest in extents
// records that must continue the fork without gaps) against its physical and
// logical lengths; every allocation block owned by at most one fork; the
// bitmap marking exactly the owned blocks; the MDB's free count.
#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/status.h"
#include "hfs/check_context.h"
#include "hfs/extents.h"

namespace {

// Who owns blocks: a fork of a catalog file record, or a thing named by a
// fixed text (a B-tree file, an extents record that belongs to no fork).
// Names are made only for a report, since almost every check finds nothing.
struct Owner {
    const CatalogEntry* entry;  // the file record; null for a named owner
    uint8_t forkType;
    const char* text;           // the named owner's name
};

struct Fork {
    Owner owner;
    uint32_t fileId;
    uint8_t forkType;
    uint32_t physical;
    uint32_t logical;
    bool hasLogical;           // the B-tree files have one size only
    const uint8_t* first;      // the first extent record
};

using ForkKey = std::pair<uint32_t, uint8_t>;

struct Allocation {
    CheckContext* ctx;
    uint32_t blocks;                   // allocation blocks on the volume
    uint32_t blockBytes;
    std::vector<uint32_t> owner;       // per allocation block: owner number + 1, 0 for none
    std::vector<Owner> owners;         // by owner number
    std::deque<std::string> names;     // the names of named owners made here
};

// "allocation block 5" or "allocation blocks 5-7", with the verb that goes
// with it.
std::string BlockRangeText(uint32_t first, uint32_t last, const char* one, const char* many)
{
    if (first == last) return "allocation block " + std::to_string(first) + " " + one;
    return "allocation blocks " + std::to_string(first) + "-" + std::to_string(last) + " " + many;
}

// "file 20 "Name" data fork", "catalog file", ...
std::string OwnerName(const Allocation& a, uint32_t me)
{
    const Owner& o = a.owners[me];
    if (!o.entry) return o.text ? o.text : "";
    return "file " + std::to_string(GetU32(o.entry->data + kFileRecFileId)) + " " + QuotedMacName(o.entry->name) +
           (o.forkType == kDataFork ? " data fork" : " resource fork");
}

// Gives the blocks of one extent to `me`, reporting blocks outside the
// volume and blocks someone already owns.
void TakeExtent(Allocation& a, uint32_t me, uint32_t start, uint32_t count)
{
    if (start + count > a.blocks) {
        Problem(a.ctx, "%s: extent (%u,%u) goes past the last allocation block (%u)", OwnerName(a, me).c_str(), start,
                count, a.blocks - 1);
        count = start < a.blocks ? a.blocks - start : 0;
    }
    for (uint32_t b = start; b < start + count;) {
        const uint32_t other = a.owner[b];
        if (other == 0) {
            a.owner[b++] = me + 1;
            continue;
        }
        const uint32_t runStart = b;
        while (b < start + count && a.owner[b] == other) ++b;
        if (other == me + 1)
            Problem(a.ctx, "%s: %s twice in its extents", OwnerName(a, me).c_str(),
                    BlockRangeText(runStart, b - 1, "appears", "appear").c_str());
        else
            Problem(a.ctx, "%s to both %s and %s", BlockRangeText(runStart, b - 1, "belongs", "belong").c_str(),
                    OwnerName(a, other - 1).c_str(), OwnerName(a, me).c_str());
    }
}

// Takes the three extents of one record. Returns how many blocks they hold.
uint32_t TakeRecord(Allocation& a, uint32_t me, const uint8_t* record, const char* where)
{
    uint32_t total = 0;
    bool sawEmpty = false;
    bool reported = false;
    for (unsigned i = 0; i < kExtentsPerRecord; ++i) {
        const uint32_t start = GetU16(record + ExtentStartAt(i));
        const uint32_t count = GetU16(record + ExtentCountAt(i));
        if (count == 0) {
            sawEmpty = true;
            continue;
        }
        if (sawEmpty && !reported) {
            Problem(a.ctx, "%s: %s has an empty extent before extent (%u,%u)", OwnerName(a, me).c_str(), where,
                    start, count);
            reported = true;
        }
        TakeExtent(a, me, start, count);
        total += count;
    }
    return total;
}

uint32_t AddOwner(Allocation& a, Owner owner)
{
    a.owners.push_back(std::move(owner));
    return static_cast<uint32_t>(a.owners.size() - 1);
}

void CheckFork(Allocation& a, const Fork& fork, const std::vector<const ExtentEntry*>& overflow)
{
    const uint32_t me = AddOwner(a, fork.owner);
    const auto who = [&a, me] { return OwnerName(a, me); };
    if (fork.physical % a.blockBytes != 0)
        Problem(a.ctx, "%s: physical length %u is not a whole number of allocation blocks (%u bytes)", who().c_str(),
                fork.physical, a.blockBytes);
    if (fork.hasLogical && fork.logical > fork.physical)
        Problem(a.ctx, "%s: logical length %u exceeds physical length %u", who().c_str(), fork.logical,
                fork.physical);

    uint32_t total = TakeRecord(a, me, fork.first, "its first extent record");
    const bool firstFull = GetU16(fork.first + ExtentCountAt(kExtentsPerRecord - 1)) != 0;
    if (!overflow.empty() && !firstFull)
        Problem(a.ctx, "%s: has extents records although its first extent record is not full", who().c_str());
    uint32_t expected = total;
    for (const ExtentEntry* r : overflow) {
        const std::string where = "extents record in node " + std::to_string(r->node) + " record " +
                                  std::to_string(r->index);
        if (r->startBlock != expected)
            Problem(a.ctx, "%s: %s starts at fork block %u, but the extents before it end at %u", who().c_str(),
                    where.c_str(), r->startBlock, expected);
        const uint32_t held = TakeRecord(a, me, r->extents, where.c_str());
        if (held == 0) Problem(a.ctx, "%s: %s holds no blocks", who().c_str(), where.c_str());
        total += held;
        expected = r->startBlock + held;
    }
    // A fork continued in an extents tree that could not be read in full has
    // blocks the check does not know of.
    const bool extentsKnown = a.ctx->extentsComplete || !firstFull || fork.fileId == kExtentsFileId;
    if (extentsKnown && uint64_t{total} * a.blockBytes != fork.physical)
        Problem(a.ctx, "%s: physical length %u, but its extents hold %u allocation blocks (%s bytes)", who().c_str(),
                fork.physical, total, std::to_string(uint64_t{total} * a.blockBytes).c_str());
}

// The forks the volume knows: the two B-tree files and both forks of every
// file record.
std::vector<Fork> ListForks(CheckContext* ctx)
{
    const uint8_t* mdb = MacVolume.mdb->data;
    std::vector<Fork> forks;
    forks.reserve(2 + 2 * ctx->catalog.size());
    forks.push_back(Fork{{nullptr, kDataFork, "extents file"}, kExtentsFileId, kDataFork, GetU32(mdb + kMdbExtentsSize), 0, false,
                         mdb + kMdbExtentsExtents});
    forks.push_back(Fork{{nullptr, kDataFork, "catalog file"}, kCatalogFileId, kDataFork, GetU32(mdb + kMdbCatalogSize), 0, false,
                         mdb + kMdbCatalogExtents});
    for (const CatalogEntry& e : ctx->catalog) {
        if (e.type != kFileRecord || e.fault != CatalogRecordFault::None) continue;
        const uint32_t id = GetU32(e.data + kFileRecFileId);
        for (uint8_t fork : {kDataFork, kResourceFork})
            forks.push_back(Fork{{&e, fork, nullptr}, id, fork, GetU32(e.data + ForkPhysicalOffset(fork)),
                                 GetU32(e.data + ForkLogicalOffset(fork)), true, e.data + ForkExtentsOffset(fork)});
    }
    return forks;
}

// Reads the bitmap through the cache. False (reported) when a block of it
// cannot be read.
bool ReadBitmap(CheckContext* ctx, uint32_t blocks, std::vector<uint8_t>* bits)
{
    const uint32_t start = GetU16(MacVolume.mdb->data + kMdbBitmapStart);
    const uint32_t bitmapBlocks = (blocks + kHfsBlockSize * 8 - 1) / (kHfsBlockSize * 8);
    bits->clear();
    for (uint32_t i = 0; i < bitmapBlocks; ++i) {
        StatusCode = 0;
        LastCorruption = nullptr;
        BlockBuffer* block = nullptr;
        if (GetVolumeBlock(&block, start + i, 1) < 1 || !block) {
            Problem(ctx, "bitmap: volume block %u cannot be read (%s)", start + i, ReadFailureText().c_str());
            StatusCode = 0;
            return false;
        }
        bits->insert(bits->end(), block->data, block->data + kHfsBlockSize);
    }
    return true;
}

void CheckBitmap(Allocation& a, bool ownersKnown)
{
    std::vector<uint8_t> bits;
    if (!ReadBitmap(a.ctx, a.blocks, &bits)) return;
    auto marked = [&](uint32_t b) { return (bits[b / 8] & (0x80u >> (b % 8))) != 0; };
    uint32_t used = 0;
    for (uint32_t b = 0; b < a.blocks;) {
        const bool isMarked = marked(b);
        const uint32_t owner = a.owner[b];
        if (isMarked) ++used;
        if (isMarked == (owner != 0)) {
            ++b;
            continue;
        }
        const uint32_t runStart = b++;
        while (b < a.blocks && marked(b) == isMarked && a.owner[b] == owner) {
            if (isMarked) ++used;
            ++b;
        }
        if (owner != 0)
            Problem(a.ctx, "bitmap: %s %s free", BlockRangeText(runStart, b - 1, "of", "of").c_str(),
                    (OwnerName(a, owner - 1) + (runStart + 1 == b ? " is" : " are")).c_str());
        else if (ownersKnown)
            Problem(a.ctx, ProblemSeverity::Harmless, "bitmap: %s",
                            BlockRangeText(runStart, b - 1, "is marked in use but belongs to no fork",
                                   "are marked in use but belong to no fork").c_str());
    }
    const uint32_t freeCount = GetU16(MacVolume.mdb->data + kMdbFreeBlocks);
    if (freeCount != a.blocks - used)
        Problem(a.ctx, "MDB: counts %u free allocation blocks, the bitmap has %u", freeCount, a.blocks - used);
}

}  // namespace

void CheckAllocation(CheckContext* ctx)
{
    const uint8_t* mdb = MacVolume.mdb->data;
    Allocation a{ctx, GetU16(mdb + kMdbAllocBlocks), MacVolume.allocBlockSize * kHfsBlockSize, {}, {}, {}};
    if (a.blockBytes == 0 || a.blocks == 0) return;   // reported with the MDB
    a.owner.assign(a.blocks, 0);

    std::map<ForkKey, std::vector<const ExtentEntry*>> overflow;
    for (const ExtentEntry& r : ctx->extents) overflow[ForkKey{r.fileId, r.forkType}].push_back(&r);

    const std::vector<Fork> forks = ListForks(ctx);
    a.owners.reserve(forks.size() + ctx->extents.size());
    // Forks in key order, the first of each key (in catalog order) first: a
    // key met again belongs to a damaged catalog, and only its first fork
    // takes the key's extents records.
    std::vector<std::pair<ForkKey, size_t>> byKey;
    byKey.reserve(forks.size());
    for (size_t i = 0; i < forks.size(); ++i) byKey.emplace_back(ForkKey{forks[i].fileId, forks[i].forkType}, i);
    std::sort(byKey.begin(), byKey.end());
    std::vector<bool> firstOfKey(forks.size(), false);
    for (size_t k = 0; k < byKey.size(); ++k)
        if (k == 0 || byKey[k].first != byKey[k - 1].first) firstOfKey[byKey[k].second] = true;
    const auto known = [&byKey](const ForkKey& key) {
        const auto at = std::lower_bound(byKey.begin(), byKey.end(), std::make_pair(key, size_t{0}));
        return at != byKey.end() && at->first == key;
    };
    for (size_t i = 0; i < forks.size(); ++i) {
        const Fork& fork = forks[i];
        const ForkKey key{fork.fileId, fork.forkType};
        // The extents file's own extents live only in the MDB.
        const bool mayOverflow = fork.fileId != kExtentsFileId && firstOfKey[i];
        const auto records = mayOverflow ? overflow.find(key) : overflow.end();
        static const std::vector<const ExtentEntry*> kNone;
        CheckFork(a, fork, records != overflow.end() ? records->second : kNone);
    }
    // Extents records that belong to no fork still claim their blocks.
    for (const ExtentEntry& r : ctx->extents) {
        const ForkKey key{r.fileId, r.forkType};
        if (known(key) && r.fileId != kExtentsFileId) continue;
        const std::string what = "extents record in node " + std::to_string(r.node) + " record " +
                                 std::to_string(r.index) + " (file " + std::to_string(r.fileId) + ", fork type " +
                                 std::to_string(r.forkType) + ")";
        if (r.fileId == kExtentsFileId)
            Problem(ctx, "%s: the extents file keeps all its extents in the MDB", what.c_str());
        else if (r.forkType != kDataFork && r.forkType != kResourceFork)
            Problem(ctx, "%s: fork type is neither 0 (data) nor 255 (resource)", what.c_str());
        else if (ctx->catalogComplete)
            Problem(ctx, "%s: the catalog has no such file", what.c_str());
        a.names.push_back(what);
        TakeRecord(a, AddOwner(a, {nullptr, r.forkType, a.names.back().c_str()}), r.extents, "the record");
    }
    CheckBitmap(a, ctx->catalogComplete && ctx->extentsComplete);
}
