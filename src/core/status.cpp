#include "core/status.h"

#include <cstdio>

uint32_t StatusCode = 0;

namespace {

struct StatusText {
    uint32_t code;
    const char* text;
};

constexpr StatusText kMessages[] = {
    {1, "Mac disk ran out of room"},
    {2, "Insufficient memory for that operation"},
    {3, "Error reading Mac disk"},
    {4, "Error writing to Mac disk"},
    {5, "Mac volume is read only"},
    {6, "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)"},
    {7, "No Mac HFS volumes found"},
    {8, "Name already exists"},
    {9, "Function not supported on this device"},
    {11, "Too many files open."},
    {14, "Could not create file/folder"},
    {16, "Wrong type of file for this translation"},
    {100, "PC disk ran out of room"},
    {101, "Could not open PC file"},
    {102, "Error reading PC disk"},
    {103, "Error writing to PC disk"},
    {104, "Could not create file/directory"},
    {105, "Could not delete file/directory"},
};

}  // namespace

bool StatusMessage(uint32_t code, char* out, unsigned outSize)
{
    if (code == kStatusCancelled) {
        if (outSize) out[0] = 0;
        return false;
    }
    for (const StatusText& m : kMessages) {
        if (m.code == code) {
            std::snprintf(out, outSize, "%s", m.text);
            return true;
        }
    }
    std::snprintf(out, outSize, "Misc error: %d", static_cast<int>(code));
    return true;
}

const char* LastCorruption = nullptr;

void ReportCorruption(const char* what)
{
    LastCorruption = what;
    if (StatusCode == 0) StatusCode = kStatusBadNode;
}
