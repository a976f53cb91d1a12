#include "core/window_system.h"

#include <cstdio>

int HeadlessWindowSystem::ShowMessage(WindowHandle, const char* text, const char* caption, unsigned style)
{
    ++messageCount;
    std::snprintf(lastText, sizeof lastText, "%s", text ? text : "");
    std::snprintf(lastCaption, sizeof lastCaption, "%s", caption ? caption : "");
    lastStyle = style;
    return (style & kMbYesNo) ? questionAnswer : kIdOk;
}

int HeadlessWindowSystem::ComboText(int, int, char* out, int outSize)
{
    if (outSize > 0) out[0] = 0;
    return 0;
}

namespace {
HeadlessWindowSystem g_headless;
WindowSystem* g_current = &g_headless;
}  // namespace

WindowSystem& Ws() { return *g_current; }

void SetWindowSystem(WindowSystem* ws) { g_current = ws ? ws : &g_headless; }
