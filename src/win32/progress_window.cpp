// The progress window: a modeless dialog over the disabled main window,
// showing the operation's title, the item being worked on and a bar, with a
// Cancel button the operation notices after its next pump.
#include <string>

#include "core/progress.h"
#include "win32/owner_draw.h"
#include "win32/resource_ids.h"
#include "win32/test_hook.h"
#include "win32/text.h"
#include "win32/win32_window_system.h"

namespace {

struct ProgressOpening {
    const char* title;
    bool showBar;
};

// The bar inside the white frame 175, on the frame's own device context. It
// only grows, so it is drawn whole and never erased.
void DrawBar(HWND progress)
{
    const HWND box = GetDlgItem(progress, IDC_PROGRESS_BAR);
    if (box == nullptr || !IsWindowVisible(box)) return;
    RECT frame;
    GetWindowRect(box, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const RECT bar{2, 2, ProgressBarRight(width), height - 2};
    if (bar.right <= bar.left || bar.bottom <= bar.top) return;
    if (const HDC dc = GetDC(box)) {
        FillRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        ReleaseDC(box, dc);
    }
}

INT_PTR CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const auto* opening = reinterpret_cast<const ProgressOpening*>(lParam);
        if (ListFont != nullptr)
            SendDlgItemMessageW(window, IDC_PROGRESS_ITEM, WM_SETFONT, reinterpret_cast<WPARAM>(ListFont), FALSE);
        // The main window takes no input while the operation runs.
        if (const HWND owner = GetWindow(window, GW_OWNER)) EnableWindow(owner, FALSE);
        SetWindowTextW(window, Wide(opening->title).c_str());
        if (!opening->showBar) ShowWindow(GetDlgItem(window, IDC_PROGRESS_BAR), SW_HIDE);
        return TRUE;
    }
    case WM_PAINT: {
        // The dialog's own painting erases what lies under the frame, so the
        // bar goes on after it.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        DrawBar(window);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kProgressCommandCancel || LOWORD(wParam) == kProgressCommandClose)
            ProgressCommand(LOWORD(wParam));
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

WindowHandle Win32WindowSystem::OpenProgressWindow(WindowHandle owner, const char* title, bool showBar)
{
    if (progress_ != nullptr) CloseProgressWindow(progress_);
    ProgressOpening opening{title ? title : "", showBar};
    progress_ = CreateDialogParamW(instance_, L"PROGRESS", static_cast<HWND>(owner), ProgressProc,
                                   reinterpret_cast<LPARAM>(&opening));
    if (progress_ == nullptr) return nullptr;
    UpdateWindow(progress_);
    LogProgress("open", opening.title);
    return progress_;
}

void Win32WindowSystem::SetProgressItem(WindowHandle progress, const char* text)
{
    if (progress == nullptr) return;
    SetDlgItemTextW(static_cast<HWND>(progress), IDC_PROGRESS_ITEM, Wide(text ? text : "").c_str());
    LogProgress("item", text ? text : "");
}

void Win32WindowSystem::DrawProgressBar(WindowHandle progress, unsigned)
{
    // The bar's length comes from ProgressDone and ProgressTotal, the same
    // numbers the percent was made of, so painting and advancing agree.
    if (progress != nullptr) DrawBar(static_cast<HWND>(progress));
}

void Win32WindowSystem::CloseProgressWindow(WindowHandle progress)
{
    const HWND window = static_cast<HWND>(progress);
    if (window == nullptr || !IsWindow(window)) return;
    const HWND owner = GetWindow(window, GW_OWNER);
    // Enabled before the window goes, so activation falls to the owner and
    // not to another program's window.
    if (owner != nullptr) EnableWindow(owner, TRUE);
    DestroyWindow(window);
    if (progress_ == window) progress_ = nullptr;
    LogProgress("close", "");
    if (owner != nullptr) {
        UpdateWindow(owner);
        SetActiveWindow(owner);
    }
}

void Win32WindowSystem::PumpMessages()
{
    // Keys are not routed through the dialog manager, so Cancel is pressed
    // with the mouse; at most 1000 messages, then back to the work.
    MSG message;
    for (int handled = 0; handled < 1000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
        if (message.message == WM_QUIT) {
            // Not ours to take: the main loop must still see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
