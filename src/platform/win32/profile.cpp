// Private profile (INI) files through the system's own calls.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// <windows.h> names its own (win.ini) call WriteProfileString through a macro.
#undef WriteProfileString

unsigned ReadProfileString(const char* section, const char* key, const char* defaultValue, char* out,
                           unsigned outSize, const char* file)
{
    if (outSize == 0 || out == nullptr) return 0;
    return GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", out, outSize, file);
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* file)
{
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

unsigned ReadProfileSection(const char* section, char* out, unsigned outSize, const char* file)
{
    if (outSize == 0 || out == nullptr || section == nullptr) return 0;
    return GetPrivateProfileSectionA(section, out, outSize, file);
}
