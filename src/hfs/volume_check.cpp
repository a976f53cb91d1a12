#include "hfs/volume_check.h"

#include <cstdarg>
#include <cstdio>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/check_context.h"
#include "hfs/fork_io.h"
#include "hfs/mac_names.h"

namespace {

void AddProblem(CheckContext* ctx, ProblemSeverity severity, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    ctx->problems->push_back(text);
    if (ctx->severities) ctx->severities->push_back(severity);
    ++ctx->count;
}

}  // namespace

void Problem(CheckContext* ctx, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AddProblem(ctx, ProblemSeverity::Blocking, format, args);
    va_end(args);
}

void Problem(CheckContext* ctx, ProblemSeverity severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AddProblem(ctx, severity, format, args);
    va_end(args);
}

std::string QuotedMacName(const uint8_t* name)
{
    const Str31 clamped(name);
    char text[kMaxMacName + 1];
    MacNameToPc(text, clamped.bytes, true);
    // Control characters are shown as escapes, so a line shows every byte.
    std::string quoted = "\"";
    for (unsigned i = 0; i < clamped.Length(); ++i) {
        const uint8_t c = clamped.bytes[i + 1];
        if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            quoted += escape;
        } else {
            quoted += text[i];
        }
    }
    return quoted + "\"";
}

std::string ReadFailureText()
{
    if (StatusCode == kStatusBadNode && LastCorruption) return LastCorruption;
    char text[128];
    if (StatusCode != 0 && StatusMessage(StatusCode, text, sizeof text)) return text;
    return "status " + std::to_string(StatusCode);
}

namespace {

// The catalog's nodes past its first three extents are found through the
// extents tree, whose header the fork mapping takes from MacVolume. When the
// open stopped before reading it, lend it the header for the check (if node
// 0 of the extents file is at least a header node) and take it back after.
BlockBuffer* LendExtentsHeader()
{
    if (MacVolume.extentsHeader) return nullptr;
    BlockBuffer* header = nullptr;
    StatusCode = 0;
    if (ReadForkNode(&header, 0, kDataFork, &MacVolume.extentsFile) < 1 || !header ||
        NodeType(header) != kHeaderNode) {
        StatusCode = 0;
        return nullptr;
    }
    MacVolume.extentsHeader = header;
    return header;
}

}  // namespace

int CheckVolume(std::vector<std::string>* problems, std::vector<ProblemSeverity>* severities)
{
    CheckContext ctx;
    ctx.problems = problems;
    ctx.severities = severities;
    if (!VolumeIsOpen()) {
        Problem(&ctx, "no volume is open");
        return ctx.count;
    }
    const uint32_t savedStatus = StatusCode;
    const char* savedCorruption = LastCorruption;
    StatusCode = 0;
    // An open that failed at a B-tree header leaves the file records unset.
    if (!MacVolume.extentsFile.recordBuffer) InitBTreeFileRecord(kExtentsFileId);
    if (!MacVolume.catalogFile.recordBuffer) InitBTreeFileRecord(kCatalogFileId);
    BlockBuffer* lent = LendExtentsHeader();

    CheckMasterBlock(&ctx);
    CheckAlternateMasterBlock(&ctx);
    CheckExtentsTree(&ctx);
    CheckCatalogTree(&ctx);
    CheckCatalogRecords(&ctx);
    CheckAllocation(&ctx);

    if (lent && MacVolume.extentsHeader == lent) MacVolume.extentsHeader = nullptr;
    StatusCode = savedStatus;
    LastCorruption = savedCorruption;
    return ctx.count;
}
