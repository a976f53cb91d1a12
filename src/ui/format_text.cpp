// Sizes and dates as the panes, the dialogs and the drive names show them.
#include "ui/format_text.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

char DateText[200];

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;
constexpr uint64_t kUnitsPerSecond = 10000000ULL;

}  // namespace

void FormatSize(uint32_t n, char* out)
{
    constexpr uint32_t kGig = 1u << 30, kMeg = 1u << 20;
    constexpr size_t kRoom = 8;
    if (n == 4294967295u) {
        std::snprintf(out, kRoom, ">4G");
    } else if (n > 4294967295u - 53687091u) {
        std::snprintf(out, kRoom, "4.0G");
    } else if (uint32_t m = n + 53687091u; m >= kGig) {
        // A tenth is 107374182 bytes rounded down, so the last few bytes below
        // a whole gigabyte count ten tenths: carry them into the next one.
        uint32_t whole = m / kGig;
        uint32_t tenths = (m % kGig) / 107374182u;
        if (tenths > 9) {
            ++whole;
            tenths = 0;
        }
        std::snprintf(out, kRoom, "%u.%uG", whole, tenths);
    } else if (n + 524288u >= 10485760u) {
        std::snprintf(out, kRoom, "%3uM", (n + 524288u) / kMeg);
    } else if (uint32_t k = n + 52489u; k >= kMeg) {
        std::snprintf(out, kRoom, "%u.%uM", k / kMeg, (k % kMeg) / 104858u);
    } else if (n + 512u >= 10240u) {
        std::snprintf(out, kRoom, "%3uK", (n + 512u) / 1024u);
    } else {
        std::snprintf(out, kRoom, "%4u", n);
    }
}

void InsertThousands(char* text)
{
    size_t length = std::strlen(text);
    // Longer texts would not fit their buffers with the commas.
    if (length < 4 || length > 11) return;
    char digits[12];
    std::memcpy(digits, text, length + 1);
    size_t from = 0, to = 0;
    size_t lead = length % 3;
    if (lead > 0) {
        while (from < lead) text[to++] = digits[from++];
        text[to++] = ',';
    }
    while (from < length) {
        for (int i = 0; i < 3; ++i) text[to++] = digits[from++];
        if (length - from >= 3) text[to++] = ',';
    }
    text[to] = 0;
}

uint32_t DosTimeFromPc(uint64_t fileTime)
{
    // Whole seconds since 1970, rounded towards the past (DOS times have
    // two-second steps, so nothing visible is lost).
    int64_t unixSeconds;
    if (fileTime >= kUnixEpochFileTime)
        unixSeconds = static_cast<int64_t>((fileTime - kUnixEpochFileTime) / kUnitsPerSecond);
    else
        unixSeconds = -static_cast<int64_t>((kUnixEpochFileTime - fileTime + kUnitsPerSecond - 1) / kUnitsPerSecond);
    return LocalDosDateTime(unixSeconds);
}

const char* FormatDosDateTime(uint32_t dosDateTime)
{
    FormatLocalTimeAndDate(dosDateTime, DateText, sizeof DateText);
    return DateText;
}
