// The system's side of the ASPI transport: the manager library beside the
// program or in the system folders, and the events its requests post.
#include "disk/aspi.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

void* LoadAspiManager()
{
    // A missing library must not bring up the system's message box.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryW(L"wnaspi32.dll");
    SetErrorMode(previous);
    return library;
}

AspiEntryPoint FindAspiEntry(void* library, const char* name)
{
    return reinterpret_cast<AspiEntryPoint>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeAspiManager(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

void* MakeAspiEvent() { return CreateEventW(nullptr, FALSE, FALSE, nullptr); }

bool WaitForAspiEvent(void* event, uint32_t ms) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }

void ClearAspiEvent(void* event) { ResetEvent(event); }

void CloseAspiEvent(void* event) { CloseHandle(event); }

void PauseMs(uint32_t ms) { Sleep(ms); }

}  // namespace

const AspiSystemCalls kSystemAspiCalls = {LoadAspiManager, FindAspiEntry,  FreeAspiManager, MakeAspiEvent,
                                          WaitForAspiEvent, ClearAspiEvent, CloseAspiEvent,  PauseMs};
AspiSystemCalls AspiSystem = kSystemAspiCalls;
