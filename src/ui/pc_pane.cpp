// The PC pane: listing a directory into PcItemList and the list, the path
// and drive boxes, the drive label, the lines and their order.
#include "ui/pc_pane.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <new>

#include "core/main_state.h"
#include "core/progress.h"
#include "core/status.h"
#include "platform/platform.h"
#include "ui/format_text.h"
#include "ui/main_window.h"
#include "ui/main_window_ids.h"

std::string PcDirectory;
std::vector<PcItem> PcItemList;
uint16_t PcShownIndex = 0;
int32_t HScrollMax = 0;
int32_t HScrollPos = 0;

namespace {

// Windows-1252 letters without regard to case: the accented capitals sit
// 0x20 below their small letters, except the three pairs of 0x8A-0x9F and Ÿ.
unsigned char Lower1252(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<unsigned char>(c + 0x20);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<unsigned char>(c + 0x10);
    if (c == 0x9F) return 0xFF;
    return c;
}

unsigned char Upper1252(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<unsigned char>(c - 0x20);
    if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 0x10);
    if (c == 0xFF) return 0x9F;
    return c;
}

int CompareNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const int ca = Lower1252(static_cast<unsigned char>(*a));
        const int cb = Lower1252(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

bool IsSeparator(char c) { return c == '/' || c == PathSeparator(); }

// The length of the root part of a native path: "/" (1), "C:\" (3),
// "\\server\share\" (through its separator); 0 when there is none.
size_t RootLength(const std::string& path)
{
    if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) return 3;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t separators = 0;
        for (size_t i = 2; i < path.size(); ++i)
            if (IsSeparator(path[i]) && ++separators == 2) return i + 1;
        return path.size();
    }
    return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

bool SortsFirst(const PcItem& a, const PcItem& b) { return ComparePcItems(a, b) < 0; }

uint32_t Clamp32(uint64_t value) { return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value); }

}  // namespace

void RefreshPcList(WindowHandle window)
{
    WindowSystem& ws = Ws();
    SetWaitCursor(true);
    HScrollMax = 0;
    FillPcDirectoryBox(window);
    if (DisplayUpdates) {
        ws.ListReset(kIdPcList);
        UpdatePcSpaceLabel(window);
    }
    PcItemList.clear();
    PcItemList.shrink_to_fit();
    try {
        std::vector<PcItem> items;
        // An unreadable directory lists what could be read of it.
        ReadPcDirectory(PcDirectory.c_str(), &items);
        PcItemList = std::move(items);
    } catch (const std::bad_alloc&) {
        PcItemList.clear();
        StatusCode = kStatusNoMemory;
        SetWaitCursor(false);
        return;
    }
    for (const PcItem& item : PcItemList) {
        const int32_t over = static_cast<int32_t>(std::min<size_t>(item.name.size(), 0x7FFF)) - kPcNameColumn;
        if (over > HScrollMax) HScrollMax = over;
    }
    std::sort(PcItemList.begin(), PcItemList.end(), SortsFirst);
    if (!DisplayUpdates) {
        SetWaitCursor(false);
        return;
    }
    for (size_t i = 0; i < PcItemList.size(); ++i) ws.ListAddItem(kIdPcList, static_cast<intptr_t>(i));
    ws.ScrollBarShow(kIdPcScrollBar, HScrollMax > 0);
    ws.ScrollBarSetRange(kIdPcScrollBar, HScrollMax);
    HScrollPos = 0;
    ApplyHScrollPos();
    SetWaitCursor(false);
}

void RefreshPcListKeepTop(WindowHandle window)
{
    const int top = Ws().ListTopIndex(kIdPcList);
    RefreshPcList(window);
    if (top > 0) Ws().ListSetTopIndex(kIdPcList, top);
}

int FillPcDirectoryBox(WindowHandle /*window*/)
{
    WindowSystem& ws = Ws();
    const char rootText[2] = {PathSeparator(), 0};
    if (DisplayUpdates) {
        ws.ComboReset(kIdPcDirectoryBox);
        ws.ComboInsertFirst(kIdPcDirectoryBox, rootText);
    }
    const size_t root = RootLength(PcDirectory);
    if (root == 0) return -1;
    const std::string below = PcDirectory.substr(root);
    if (!DisplayUpdates) return 0;
    bool any = false;
    size_t start = 0;
    while (start <= below.size()) {
        size_t end = start;
        while (end < below.size() && !IsSeparator(below[end])) ++end;
        if (end > start) {
            char ansi[1024];
            if (!NativeToAnsi(below.substr(start, end - start).c_str(), ansi, sizeof ansi)) std::strcpy(ansi, "?");
            ws.ComboInsertFirst(kIdPcDirectoryBox, ansi);
            any = true;
        }
        start = end + 1;
    }
    ws.EnableControl(kIdPcUpButton, any);
    SizeComboDropDown(kIdPcDirectoryBox, true);
    return 0;
}

void FillPcDriveBox(WindowHandle /*window*/)
{
    WindowSystem& ws = Ws();
    char current[8];
    DriveOfPath(PcDirectory.c_str(), current, sizeof current);
    LogicalDrive drives[32];
    const int count = ListLogicalDrives(drives, 32);
    if (count == 0) return;
    static const char* const kKinds[] = {"", "", "(Removable)", "(Fixed)", "(Remote)", "(CDROM)", "(Ram Disk)"};
    for (int i = 0; i < count; ++i) {
        const std::string line = std::string(drives[i].name) + (drives[i].kind <= 6 ? kKinds[drives[i].kind] : "");
        ws.ComboAdd(kIdPcDriveBox, line.c_str());
    }
    SizeComboDropDown(kIdPcDriveBox, false);
    if (current[0] == 0) return;
    const size_t length = std::strlen(current);
    for (int i = 0; i < ws.ComboCount(kIdPcDriveBox); ++i) {
        char line[32];
        ws.ComboText(kIdPcDriveBox, i, line, sizeof line);
        if (std::strncmp(line, current, length) == 0) {
            ws.ComboSelect(kIdPcDriveBox, i);
            return;
        }
    }
}

void UpdatePcSpaceLabel(WindowHandle /*window*/)
{
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    GetDriveSpace(PcDirectory.c_str(), &freeBytes, &totalBytes);
    // Drives of 4 GB and more show ">4G" rather than a wrapped size.
    char freeText[16];
    char totalText[16];
    FormatSize(Clamp32(freeBytes), freeText);
    FormatSize(Clamp32(totalBytes), totalText);
    char label[64];
    std::snprintf(label, sizeof label, "PC Drive: %s of %s free", freeText, totalText);
    Ws().SetControlText(kIdPcDriveLabel, label);
}

void FormatPcLine(char* line, unsigned index, int offset)
{
    if (index >= PcItemList.size()) {
        std::memset(line, ' ', 80);
        line[80] = 0;
        return;
    }
    FormatPcItem(line, PcItemList[index], offset);
}

void FormatPcItem(char* line, const PcItem& item, int offset)
{
    const std::string& name = item.name;
    char extension[5] = {};
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.size() - dot <= 5 && item.kind != kPcDirectory) {
        for (size_t i = 0; i < 4 && dot + 1 + i < name.size(); ++i)
            extension[i] = static_cast<char>(Upper1252(static_cast<unsigned char>(name[dot + 1 + i])));
    }
    const char* shown = offset >= 0 && name.size() >= static_cast<size_t>(offset) ? name.c_str() + offset : "";
    const unsigned date = item.modified >> 16;
    std::snprintf(line, 81, "%-44.44s  %-3.3s        %02u/%02u/%02u", shown, extension, (date >> 5) & 15u, date & 31u,
                  ((date >> 9) - 48u) & 127u);
    char size[16];
    switch (item.kind) {
    case kPcDirectory: std::strcpy(size, "[DIR]"); break;
    case kPcLink: std::strcpy(size, "[LNK]"); break;
    default: FormatSize(item.size, size); break;
    }
    std::memcpy(line + 51, size, std::min<size_t>(std::strlen(size), 5));
}

int ComparePcItems(const PcItem& a, const PcItem& b)
{
    // Directories first; links and other entries go with the files.
    const int rankA = a.kind == kPcDirectory ? 0 : 1;
    const int rankB = b.kind == kPcDirectory ? 0 : 1;
    if (rankA != rankB) return rankA < rankB ? -1 : 1;
    switch (PcSortId) {
    case kSortByType: {  // the extension on this side
        const size_t dotA = a.name.rfind('.');
        const size_t dotB = b.name.rfind('.');
        const bool hasA = dotA != std::string::npos;
        const bool hasB = dotB != std::string::npos;
        if (hasA != hasB) return hasA ? 1 : -1;
        if (int c = CompareNoCase(a.name.c_str() + (hasA ? dotA : 0), b.name.c_str() + (hasB ? dotB : 0))) return c;
        break;
    }
    case kSortBySize:
        if (a.kind != kPcDirectory && a.size != b.size) return a.size > b.size ? -1 : 1;
        break;
    case kSortByDate:
        if (a.modified != b.modified) return a.modified > b.modified ? -1 : 1;
        break;
    default:
        break;
    }
    return CompareNoCase(a.name.c_str(), b.name.c_str());
}

void ApplyHScrollPos()
{
    HScrollPos = std::clamp(HScrollPos, 0, std::max(HScrollMax, 0));
    WindowSystem& ws = Ws();
    if (ws.ScrollBarPos(kIdPcScrollBar) == HScrollPos) return;
    ws.ScrollBarSetPos(kIdPcScrollBar, HScrollPos);
    ws.ListInvalidate(kIdPcList);
}

void PcHorizontalScroll(int request, int position)
{
    switch (request) {
    case kScrollLineLeft: HScrollPos -= 1; break;
    case kScrollLineRight: HScrollPos += 1; break;
    case kScrollPageLeft: HScrollPos -= 10; break;
    case kScrollPageRight: HScrollPos += 10; break;
    case kScrollThumbTrack: HScrollPos = position; break;
    default: return;
    }
    ApplyHScrollPos();
}

bool PcGoUp(unsigned levels)
{
    const size_t root = RootLength(PcDirectory);
    if (root == 0) return false;
    bool moved = false;
    for (; levels > 0; --levels) {
        size_t end = PcDirectory.size();
        while (end > root && IsSeparator(PcDirectory[end - 1])) --end;
        if (end <= root) break;
        while (end > root && !IsSeparator(PcDirectory[end - 1])) --end;
        while (end > root && IsSeparator(PcDirectory[end - 1])) --end;
        PcDirectory.resize(end);
        moved = true;
    }
    return moved;
}

bool PcEnterDirectory(const std::string& name)
{
    std::string path;
    if (!PcChildPath(PcDirectory, name, &path)) return false;
    PcDirectory = path;
    return true;
}
