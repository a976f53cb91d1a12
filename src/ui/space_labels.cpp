#include <cstdio>

#include "hfs/bytes.h"
#include "hfs/volume.h"
#include "ui/format_text.h"
#include "ui/mac_pane.h"

void UpdateMacSpaceLabel(WindowHandle /*window*/)
{
    if (!VolumeIsOpen()) return;
    const uint64_t blockBytes = static_cast<uint64_t>(MacVolume.allocBlockSize) * kHfsBlockSize;
    // Sizes of 4 GB and more show as ">4G" rather than wrapping.
    auto clamp = [](uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); };
    const uint32_t freeBytes = clamp(GetU16(MacVolume.mdb->data + kMdbFreeBlocks) * blockBytes);
    const uint32_t totalBytes = clamp(GetU16(MacVolume.mdb->data + kMdbAllocBlocks) * blockBytes);
    char freeText[16];
    char totalText[16];
    FormatSize(freeBytes, freeText);
    FormatSize(totalBytes, totalText);
    char label[64];
    std::snprintf(label, sizeof label, "Mac Drive: %s of %s free", freeText, totalText);
    Ws().SetControlText(kIdMacDriveLabel, label);
}
