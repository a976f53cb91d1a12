// Private profile (INI) files on POSIX, behaving as Windows' private-profile
// calls do: section and key names compared without regard to case, names and
// values trimmed of blanks, one pair of matching quotes around a value
// removed, a missing file or key giving the default. Writing changes only the
// line of the key (or adds one) and keeps every other byte of the file,
// including its line-end convention.
#include "platform/platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A profile larger than this is not read (a settings file never is).
constexpr int64_t kMaxProfileBytes = 16 << 20;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

enum class LineKind { Blank, Section, Key };

struct ProfileLine {
    LineKind kind;
    size_t start;        // offset of the line's first byte
    size_t next;         // offset just past its line end
    size_t contentEnd;   // offset just past its last non-blank byte
    std::string_view name;  // section or key name
    bool hasValue;       // a key line with '='
    size_t valueStart;   // offset of the value (after '=' and blanks)
    std::string_view value;
};

struct Profile {
    std::string text;
    std::vector<ProfileLine> lines;
    bool crlf = false;
};

bool LoadText(const char* file, std::string& text)
{
    text.clear();
    FileHandle f = FileOpen(file, FileMode::Read);
    if (f == kNoFile) return !FileExists(file);  // a missing file is an empty profile
    int64_t size = FileSize(f);
    bool ok = size >= 0 && size <= kMaxProfileBytes;
    if (ok) {
        text.resize(static_cast<size_t>(size));
        int64_t got = size > 0 ? FileRead(f, text.data(), text.size()) : 0;
        ok = got == size;
    }
    FileClose(f);
    if (!ok) text.clear();
    return ok;
}

void Parse(Profile& p)
{
    const std::string& t = p.text;
    p.lines.clear();
    p.crlf = t.find("\r\n") != std::string::npos;
    size_t pos = 0;
    if (t.size() >= 3 && t.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // UTF-8 byte order mark
    while (pos < t.size()) {
        size_t eol = t.find('\n', pos);
        size_t next = eol == std::string::npos ? t.size() : eol + 1;
        size_t lineEnd = eol == std::string::npos ? t.size() : eol;
        std::string_view raw(t.data() + pos, lineEnd - pos);
        std::string_view content = Trim(raw);
        ProfileLine line{};
        line.start = pos;
        line.next = next;
        line.contentEnd = content.empty() ? pos : static_cast<size_t>(content.data() + content.size() - t.data());
        size_t close = content.rfind(']');
        if (content.empty()) {
            line.kind = LineKind::Blank;
        } else if (content.front() == '[' && close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = content.substr(1, close - 1);
        } else {
            line.kind = LineKind::Key;
            size_t eq = content.find('=');
            if (eq == std::string_view::npos) {
                line.name = content;
            } else {
                line.name = Trim(content.substr(0, eq));
                line.hasValue = true;
                std::string_view value = content.substr(eq + 1);
                while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
                line.value = value;
                line.valueStart = static_cast<size_t>(value.data() - t.data());
            }
        }
        p.lines.push_back(line);
        pos = next;
    }
}

bool Load(const char* file, Profile& p)
{
    bool ok = LoadText(file, p.text);
    Parse(p);
    return ok;
}

// The last profile read, kept while its file's status stays the same: the
// type maps are looked up once for every file copied. A file changed in the
// last two seconds is read afresh each time, as a second change within the
// same timestamp tick would not show in its status.
struct CachedProfile {
    std::string path;
    struct stat status;
    Profile profile;
};

bool SameStatus(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

CachedProfile& Cache()
{
    static CachedProfile cache;
    return cache;
}

void ForgetCachedProfile() { Cache().path.clear(); }

const Profile& LoadForReading(const char* file)
{
    static const Profile kEmpty;
    CachedProfile& cache = Cache();
    struct stat status;
    if (stat(file, &status) != 0) {
        if (errno == ENOENT) return kEmpty;  // a missing file is an empty profile
        ForgetCachedProfile();
        Load(file, cache.profile);
        return cache.profile;
    }
    if (cache.path == file && SameStatus(cache.status, status)) return cache.profile;
    // The text is parsed in place: the lines point into it.
    Load(file, cache.profile);
    const bool settled = status.st_mtim.tv_sec + 2 < std::time(nullptr);
    if (settled) {
        cache.path = file;
        cache.status = status;
    } else {
        ForgetCachedProfile();
    }
    return cache.profile;
}

// Lines [first, end) of the first section named `section`; keys before any
// header form the section with the empty name. False when there is none.
bool FindSection(const Profile& p, std::string_view section, size_t& first, size_t& end)
{
    size_t i = 0;
    bool found = section.empty();
    if (!found) {
        for (; i < p.lines.size(); ++i) {
            if (p.lines[i].kind == LineKind::Section && SameName(p.lines[i].name, section)) {
                found = true;
                ++i;
                break;
            }
        }
        if (!found) return false;
    }
    first = i;
    while (i < p.lines.size() && p.lines[i].kind != LineKind::Section) ++i;
    end = i;
    return true;
}

// Index of the first line in [first, end) with the key, or `end`.
size_t FindKey(const Profile& p, size_t first, size_t end, std::string_view key)
{
    for (size_t i = first; i < end; ++i) {
        if (p.lines[i].kind == LineKind::Key && SameName(p.lines[i].name, key)) return i;
    }
    return end;
}

// Copies `value` into out (at most outSize - 1 characters) without one pair
// of matching quotes around it. Returns the characters copied.
unsigned CopyValue(std::string_view value, char* out, unsigned outSize)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    size_t n = value.size() < outSize - 1 ? value.size() : outSize - 1;
    std::memcpy(out, value.data(), n);
    out[n] = 0;
    return static_cast<unsigned>(n);
}

// Copies a list of strings as consecutive zero-terminated strings ending
// with an empty one. When they do not fit, the last is cut so that the
// buffer ends in two zeros and the answer is outSize - 2.
unsigned CopyList(const std::vector<std::string>& items, char* out, unsigned outSize)
{
    if (outSize == 0) return 0;
    if (outSize == 1) {
        out[0] = 0;
        return 0;
    }
    size_t used = 0;
    for (const std::string& item : items) {
        if (used + item.size() + 2 > outSize) {
            // `used` is at most outSize - 1 here: the previous terminator
            // may already be the first of the two zeros.
            size_t room = outSize - 2 > used ? outSize - 2 - used : 0;
            std::memcpy(out + used, item.data(), room);
            out[outSize - 2] = 0;
            out[outSize - 1] = 0;
            return outSize - 2;
        }
        std::memcpy(out + used, item.data(), item.size());
        used += item.size();
        out[used++] = 0;
    }
    out[used] = 0;
    if (used == 0 && outSize > 1) out[1] = 0;
    return static_cast<unsigned>(used);
}

// Section listings leave out comment lines.
bool IsComment(const ProfileLine& line) { return !line.name.empty() && line.name.front() == ';'; }

std::string_view TrimmedName(const char* name) { return Trim(std::string_view(name)); }

bool SaveText(const char* file, const std::string& text)
{
    ForgetCachedProfile();
    FileHandle f = FileOpen(file, FileMode::Create);
    if (f == kNoFile) return false;
    bool ok = FileWrite(f, text.data(), text.size()) == static_cast<int64_t>(text.size());
    FileClose(f);
    return ok;
}

}  // namespace

unsigned ReadProfileString(const char* section, const char* key, const char* defaultValue, char* out,
                           unsigned outSize, const char* file)
{
    if (outSize == 0 || out == nullptr) return 0;
    const Profile& p = LoadForReading(file);

    if (section == nullptr) {  // the names of all sections
        std::vector<std::string> names;
        for (const ProfileLine& line : p.lines) {
            if (line.kind == LineKind::Section) names.emplace_back(line.name);
        }
        return CopyList(names, out, outSize);
    }
    size_t first = 0, end = 0;
    bool haveSection = FindSection(p, TrimmedName(section), first, end);
    if (key == nullptr) {  // the names of the section's keys that have values
        std::vector<std::string> names;
        for (size_t i = first; haveSection && i < end; ++i) {
            const ProfileLine& line = p.lines[i];
            if (line.kind == LineKind::Key && line.hasValue && !IsComment(line))
                names.emplace_back(line.name);
        }
        return CopyList(names, out, outSize);
    }

    std::string_view k = TrimmedName(key);
    if (haveSection) {
        size_t i = FindKey(p, first, end, k);
        if (i < end && p.lines[i].hasValue) return CopyValue(p.lines[i].value, out, outSize);
    }
    // The default loses its trailing blanks, as it does on Windows.
    std::string_view def(defaultValue ? defaultValue : "");
    while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
    return CopyValue(def, out, outSize);
}

unsigned ReadProfileSection(const char* section, char* out, unsigned outSize, const char* file)
{
    if (out == nullptr || section == nullptr) return 0;
    const Profile& p = LoadForReading(file);
    std::vector<std::string> items;
    size_t first = 0, end = 0;
    if (FindSection(p, TrimmedName(section), first, end)) {
        for (size_t i = first; i < end; ++i) {
            const ProfileLine& line = p.lines[i];
            if (line.kind != LineKind::Key || IsComment(line)) continue;
            std::string item(line.name);
            if (line.hasValue) {
                item += '=';
                item += line.value;
            }
            items.push_back(std::move(item));
        }
    }
    return CopyList(items, out, outSize);
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* file)
{
    if (section == nullptr) return true;  // nothing is cached, so nothing to flush
    Profile p;
    if (!Load(file, p)) return false;
    const char* eol = p.crlf ? "\r\n" : "\n";
    std::string_view sectionName = TrimmedName(section);
    std::string& t = p.text;
    std::string before = t;

    size_t first = 0, end = 0;
    bool haveSection = FindSection(p, sectionName, first, end);
    if (key == nullptr) {  // delete the section, its header and its lines
        if (!haveSection) return true;
        size_t from = first > 0 ? p.lines[first - 1].start : 0;
        size_t to = end < p.lines.size() ? p.lines[end].start : t.size();
        t.erase(from, to - from);
    } else {
        std::string_view k = TrimmedName(key);
        std::string_view v;
        if (value != nullptr) {
            v = value;
            while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
        }
        size_t i = haveSection ? FindKey(p, first, end, k) : end;
        if (value == nullptr) {  // delete the key's line
            if (i < end) t.erase(p.lines[i].start, p.lines[i].next - p.lines[i].start);
        } else if (i < end) {  // replace the value, keeping the rest of the line
            const ProfileLine& line = p.lines[i];
            if (line.hasValue) {
                t.replace(line.valueStart, line.value.size(), v);
            } else {
                std::string text = "=";
                text += v;
                t.insert(line.contentEnd, text);
            }
        } else {
            std::string entry(k);
            entry += '=';
            entry += v;
            entry += eol;
            if (haveSection) {
                // After the section's last non-blank line (or its header).
                size_t last = first;
                for (size_t j = first; j < end; ++j) {
                    if (p.lines[j].kind != LineKind::Blank) last = j + 1;
                }
                size_t at;
                if (last > 0) {
                    at = p.lines[last - 1].next;
                    if (at == t.size() && (t.empty() || t.back() != '\n')) entry.insert(0, eol);
                } else {
                    at = p.lines.empty() ? t.size() : p.lines[0].start;
                }
                t.insert(at, entry);
            } else {
                std::string text;
                if (!t.empty() && t.back() != '\n') text += eol;
                text += '[';
                text += sectionName;
                text += ']';
                text += eol;
                text += entry;
                t += text;
            }
        }
    }
    if (t == before) return true;
    return SaveText(file, t);
}
