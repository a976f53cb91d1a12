#include <cstring>

#include "translate/names.h"
#include "ui/dialog_logic.h"

int PcNameFilter(int character, bool allowUpper)
{
    int c = character;
    if (c < 32 || c > 255) return c;
    if (allowUpper && c >= 128) {
        // Through the OEM set and back: what the OEM set lacks becomes its
        // plain letter or "_".
        char text[2] = {static_cast<char>(c), 0};
        AnsiToOem(text, text);
        OemToAnsi(text, text);
        c = static_cast<unsigned char>(text[0]);
        if (c == '_') return c;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    // The characters of a PC name less ';', which the filter refuses too.
    static const char kKept[] = " `+,=[]!#$%&'()-.@^_{}~";
    if (c < 128 && std::strchr(kKept, c)) return c;
    return allowUpper && c >= 128 ? c : -1;
}
