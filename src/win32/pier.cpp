// The main window's procedure: every message goes to the command logic
// (ui/main_window.h) or to the owner drawing; the window layer decides
// nothing itself.
#include "win32/pier.h"

#include <shellapi.h>

#include <utility>

#include "ui/disk_images.h"
#include "ui/main_window.h"
#include "win32/owner_draw.h"
#include "win32/resource_ids.h"
#include "win32/test_hook.h"
#include "win32/text.h"
#include "win32/win32_window_system.h"

namespace {

std::vector<std::string> g_startImages;

void Idle(HWND window)
{
    if (!Win32Ws().MainEnded()) LogMainWindow(window, "idle");
}

void Command(HWND window, int id, unsigned notification)
{
    // A drop-down list closed by the command logic itself is not a choice.
    if (notification == CBN_CLOSEUP && Win32Ws().ClosingDropDown()) return;
    LogCommand(id, notification);
    MainWindowCommand(window, id, notification);
    Idle(window);
}

void DropFiles(HWND window, HDROP drop)
{
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::string> paths;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), length + 1));
        paths.push_back(Ansi(path));
    }
    DragFinish(drop);
    for (const std::string& path : paths) {
        LogEvent("drop", path.c_str());
        OpenDiskImage(window, path.c_str());
        if (Win32Ws().MainEnded()) return;
    }
    Idle(window);
}

int Start(HWND window)
{
    Win32Ws().AttachMainWindow(window);
    if (!StartMainWindow(window)) return FALSE;  // ended after its message
    // The drive box's list shows an image's whole name.
    RECT width{0, 0, 31 * 4 + 8, 0};  // 31 characters of the box's font and the margins
    MapDialogRect(window, &width);
    SendDlgItemMessageW(window, IDC_MAC_DRIVE_BOX, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width.right), 0);
    DragAcceptFiles(window, TRUE);
    for (const std::string& path : g_startImages) {
        LogEvent("open-argument", path.c_str());
        OpenDiskImage(window, path.c_str());
        if (Win32Ws().MainEnded()) return FALSE;
    }
    g_startImages.clear();
    LogMainWindow(window, "ready");
    return TRUE;
}

}  // namespace

void SetStartImages(std::vector<std::string> paths) { g_startImages = std::move(paths); }

INT_PTR CALLBACK Pier(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return Start(window);
    case WM_COMMAND: Command(window, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_MEASUREITEM:
        MeasureListItem(window, static_cast<int>(wParam), reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM: {
        const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        DrawListItem(window, static_cast<int>(draw->CtlID), draw);
        DrawBitmapButton(draw);
        return TRUE;
    }
    case WM_CHARTOITEM: return TypeToSelect(wParam, reinterpret_cast<HWND>(lParam));
    // Keys other than characters get the list's own handling (arrows, Home,
    // Page Down): a dialog procedure's FALSE would be read as item 0.
    case WM_VKEYTOITEM: return -1;
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lParam) != GetDlgItem(window, IDC_PC_SCROLL)) return FALSE;
        MainWindowHScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return TRUE;
    case WM_CLOSE: Command(window, IDM_EXIT, 0); return TRUE;
    case WM_DROPFILES: DropFiles(window, reinterpret_cast<HDROP>(wParam)); return TRUE;
    default: return FALSE;
    }
}
