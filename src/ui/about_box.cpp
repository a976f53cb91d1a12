#include <string>

#include "ui/dialog_logic.h"

namespace {

// The two further lines are kept scrambled in the program and set in clear
// only when the box opens.
constexpr unsigned char kScramble = 0x5A;

template <size_t N>
struct Scrambled {
    char bytes[N];
    constexpr explicit Scrambled(const char (&text)[N]) : bytes{}
    {
        for (size_t i = 0; i < N; ++i) bytes[i] = static_cast<char>(text[i] ^ kScramble ^ static_cast<char>(i));
    }
    std::string Clear() const
    {
        std::string text;
        for (size_t i = 0; i + 1 < N; ++i) text += static_cast<char>(bytes[i] ^ kScramble ^ static_cast<char>(i));
        return text;
    }
};

constexpr Scrambled kLine1("Reads and writes Mac HFS disks");
constexpr Scrambled kLine2("on the PC.");

}  // namespace

void AboutBox::Init(DialogControls& controls)
{
    controls.SetText(kIdAboutTitle, "Quaylink 32");
    controls.SetText(kIdAboutVersion, "Version 0.1");
    controls.SetText(kIdAboutLine1, kLine1.Clear().c_str());
    controls.SetText(kIdAboutLine2, kLine2.Clear().c_str());
}

int AboutBox::Command(DialogControls&, int control, int)
{
    return control == kDialogOk || control == kDialogCancel ? 1 : kDialogKeepRunning;
}
