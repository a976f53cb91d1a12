#include "support/hfsutils_driver.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr size_t kDateWidth = 12;

bool ParseNumber(const std::string& text, size_t* pos, uint32_t* out)
{
    while (*pos < text.size() && text[*pos] == ' ') ++*pos;
    const size_t start = *pos;
    uint64_t value = 0;
    while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
        value = value * 10 + static_cast<unsigned>(text[*pos] - '0');
        if (value > 0xFFFFFFFFu) return false;
        ++*pos;
    }
    *out = static_cast<uint32_t>(value);
    return *pos > start;
}

// The date and name after `pos`: spaces, the 12-character date (which
// begins with the month's name), a space and the escaped name.
bool ParseDateAndName(const std::string& line, size_t pos, std::string* name)
{
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos + kDateWidth + 1 >= line.size() || line[pos + kDateWidth] != ' ') return false;
    *name = UnescapeHlsName(line.substr(pos + kDateWidth + 1));
    return !name->empty();
}

bool ParseEntry(const std::string& line, HlsEntry* entry)
{
    size_t pos = 0;
    if (!ParseNumber(line, &pos, &entry->cnid) || pos >= line.size() || line[pos] != ' ') return false;
    ++pos;
    if (pos + 3 > line.size()) return false;
    const char kind = line[pos];
    entry->invisible = line[pos + 1] == 'i';
    if (line[pos + 2] != ' ') return false;
    pos += 3;
    if (kind == 'd') {
        entry->folder = true;
        if (!ParseNumber(line, &pos, &entry->valence)) return false;
        const std::string tail = entry->valence == 1 ? " item " : " items";
        if (line.compare(pos, tail.size(), tail) != 0) return false;
        pos += tail.size();
        return ParseDateAndName(line, pos, &entry->name);
    }
    if (kind != 'f' && kind != 'F') return false;
    entry->locked = kind == 'F';
    if (pos + 9 > line.size() || line[pos + 4] != '/') return false;
    pos += 9;
    if (!ParseNumber(line, &pos, &entry->rsrcLength) || !ParseNumber(line, &pos, &entry->dataLength)) return false;
    return ParseDateAndName(line, pos, &entry->name);
}

std::string FolderKey(const std::string& header)
{
    // ":A:B:" names folder ":A:B"; the root has no header.
    std::string key = header;
    if (key.size() > 1 && key.back() == ':') key.pop_back();
    return key;
}

}  // namespace

std::string UnescapeHlsName(const std::string& escaped)
{
    std::string out;
    for (size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '\\' || i + 1 >= escaped.size()) {
            out += c;
            continue;
        }
        const char next = escaped[++i];
        switch (next) {
        case 'n': out += '\n'; break;
        case 'b': out += '\b'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'f': out += '\f'; break;
        default:
            if (next >= '0' && next <= '7' && i + 2 < escaped.size()) {
                const int value = (next - '0') * 64 + (escaped[i + 1] - '0') * 8 + (escaped[i + 2] - '0');
                out += static_cast<char>(value);
                i += 2;
            } else {
                out += next;  // "\\", "\ ", "\""
            }
        }
    }
    return out;
}

bool ParseHlsTree(const std::string& text, HlsTree* out, std::string* why)
{
    out->clear();
    std::string folder = ":";
    (*out)[folder];
    size_t start = 0;
    unsigned lineNumber = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty()) continue;
        if (line[0] == ':') {
            folder = FolderKey(line);
            (*out)[folder];
            continue;
        }
        HlsEntry entry;
        if (!ParseEntry(line, &entry)) {
            if (why) *why = "line " + std::to_string(lineNumber) + " not understood: " + line;
            return false;
        }
        (*out)[folder].push_back(entry);
    }
    return true;
}

bool HasHfsGlobCharacter(const std::string& path)
{
    return path.find_first_of("*?[\\{") != std::string::npos;
}

bool HfsUtilsAvailable()
{
    for (const char* tool : {"hformat", "hmount", "hls", "hcopy", "hmkdir", "hattrib", "hdel"})
        if (!ProgramAvailable(tool)) return false;
    return true;
}

HfsUtils::HfsUtils() = default;

CommandResult HfsUtils::Run(const std::string& tool, const std::vector<std::string>& args, const std::string& outFile)
{
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandOptions options;
    options.env = {{"HOME", home_.Path()}, {"TZ", "UTC"}, {"LC_ALL", "C"}};
    options.outFile = outFile;
    return RunCommand(argv, options);
}

bool HfsUtils::Check(const CommandResult& result, const std::string& what)
{
    if (result.exitCode == 0) return true;
    lastError_ = what + " failed (exit " + std::to_string(result.exitCode) + "): " + result.err;
    return false;
}

bool HfsUtils::CheckPaths(const std::vector<std::string>& hfsPaths)
{
    for (const std::string& path : hfsPaths) {
        if (HasHfsGlobCharacter(path)) {
            lastError_ = "path would be expanded as a pattern: " + path;
            return false;
        }
    }
    return true;
}

bool HfsUtils::Format(const std::string& path, const std::string& label, uint64_t bytes)
{
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        if (!file) {
            lastError_ = "cannot create " + path;
            return false;
        }
    }
    std::error_code error;
    fs::resize_file(path, bytes, error);
    if (error) {
        lastError_ = "cannot size " + path;
        return false;
    }
    return Check(Run("hformat", {"-l", label, path}), "hformat");
}

bool HfsUtils::Mount(const std::string& path, int partition)
{
    std::vector<std::string> args{path};
    if (partition > 0) args.push_back(std::to_string(partition));
    return Check(Run("hmount", args), "hmount");
}

bool HfsUtils::MountCopy(const std::string& path, int partition)
{
    const std::string copy = scratch_.PathOf("scratch" + std::to_string(scratchCount_++) + ".img");
    std::error_code error;
    fs::copy_file(path, copy, fs::copy_options::overwrite_existing, error);
    if (error) {
        lastError_ = "cannot copy " + path + ": " + error.message();
        return false;
    }
    return Mount(copy, partition);
}

bool HfsUtils::Mkdir(const std::string& hfsPath)
{
    return CheckPaths({hfsPath}) && Check(Run("hmkdir", {hfsPath}), "hmkdir " + hfsPath);
}

bool HfsUtils::PutRaw(const std::string& localPath, const std::string& hfsPath)
{
    return CheckPaths({hfsPath}) && Check(Run("hcopy", {"-r", localPath, hfsPath}), "hcopy -r to " + hfsPath);
}

bool HfsUtils::PutRawFiles(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files,
                           const std::string& hfsFolder)
{
    if (!CheckPaths({hfsFolder})) return false;
    // hcopy names each copy after its source file: one folder per call.
    const TempDir sources;
    std::vector<std::string> args{"-r"};
    for (const auto& [name, bytes] : files) args.push_back(sources.WriteFile(name, bytes));
    args.push_back(hfsFolder);
    return Check(Run("hcopy", args), "hcopy -r to " + hfsFolder);
}

bool HfsUtils::PutMacBinary(const std::vector<MacFileImage>& files, const std::string& hfsFolder)
{
    if (!CheckPaths({hfsFolder})) return false;
    // One hcopy for many files; the tool takes each name from its header.
    constexpr size_t kPerCall = 200;
    for (size_t first = 0; first < files.size(); first += kPerCall) {
        std::vector<std::string> args{"-m"};
        for (size_t i = first; i < files.size() && i < first + kPerCall; ++i)
            args.push_back(scratch_.WriteFile("in" + std::to_string(scratchCount_++) + ".bin", WriteMacBinary(files[i])));
        args.push_back(hfsFolder);
        const bool ok = Check(Run("hcopy", args), "hcopy -m to " + hfsFolder);
        for (size_t i = 1; i + 1 < args.size(); ++i) fs::remove(args[i]);
        if (!ok) return false;
    }
    return true;
}

bool HfsUtils::SetTypeCreator(const std::string& hfsPath, const std::string& type, const std::string& creator)
{
    return CheckPaths({hfsPath}) && Check(Run("hattrib", {"-t", type, "-c", creator, hfsPath}), "hattrib " + hfsPath);
}

bool HfsUtils::SetInvisible(const std::string& hfsPath, bool invisible)
{
    return CheckPaths({hfsPath}) && Check(Run("hattrib", {invisible ? "+i" : "-i", hfsPath}), "hattrib " + hfsPath);
}

bool HfsUtils::Delete(const std::vector<std::string>& hfsPaths)
{
    if (!CheckPaths(hfsPaths)) return false;
    constexpr size_t kPerCall = 200;
    for (size_t first = 0; first < hfsPaths.size(); first += kPerCall) {
        std::vector<std::string> args(hfsPaths.begin() + static_cast<long>(first),
                                      hfsPaths.begin() + static_cast<long>(std::min(hfsPaths.size(), first + kPerCall)));
        if (!Check(Run("hdel", args), "hdel")) return false;
    }
    return true;
}

uint64_t HfsUtils::FreeBytes()
{
    const CommandResult r = Run("hvol", {});
    const size_t at = r.out.find("Volume has ");
    return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 11));
}

bool HfsUtils::GetRaw(const std::string& hfsPath, std::vector<uint8_t>* out)
{
    if (!CheckPaths({hfsPath})) return false;
    const CommandResult result = Run("hcopy", {"-r", hfsPath, "-"});
    if (!Check(result, "hcopy -r from " + hfsPath)) return false;
    out->assign(result.out.begin(), result.out.end());
    return true;
}

bool HfsUtils::GetMacBinary(const std::string& hfsPath, MacFileImage* out)
{
    if (!CheckPaths({hfsPath})) return false;
    const CommandResult result = Run("hcopy", {"-m", hfsPath, "-"});
    if (!Check(result, "hcopy -m from " + hfsPath)) return false;
    std::string why;
    if (!ReadMacBinary(result.out, out, &why)) {
        lastError_ = "hcopy -m output for " + hfsPath + ": " + why;
        return false;
    }
    return true;
}

bool HfsUtils::GetMacBinaryMany(const std::string& hfsFolder, const std::vector<std::string>& names,
                                std::map<std::string, MacFileImage>* out)
{
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(hfsFolder == ":" ? ":" + name : hfsFolder + ":" + name);
    if (!CheckPaths(paths)) return false;
    const fs::path dir = fs::path(scratch_.Path()) / ("out" + std::to_string(scratchCount_++));
    std::error_code error;
    fs::create_directory(dir, error);
    constexpr size_t kPerCall = 200;
    for (size_t first = 0; first < paths.size(); first += kPerCall) {
        std::vector<std::string> args{"-m"};
        args.insert(args.end(), paths.begin() + static_cast<long>(first),
                    paths.begin() + static_cast<long>(std::min(paths.size(), first + kPerCall)));
        args.push_back(dir.string() + "/");
        if (!Check(Run("hcopy", args), "hcopy -m from " + hfsFolder)) return false;
    }
    std::map<std::string, MacFileImage> found;
    for (const auto& item : fs::directory_iterator(dir, error)) {
        std::ifstream in(item.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        MacFileImage file;
        std::string why;
        if (!ReadMacBinary(bytes, &file, &why)) {
            lastError_ = "hcopy -m output " + item.path().string() + ": " + why;
            return false;
        }
        found[file.name] = std::move(file);
    }
    fs::remove_all(dir, error);
    for (size_t i = 0; i < names.size(); ++i) {
        auto it = found.find(names[i]);
        if (it != found.end()) {
            (*out)[names[i]] = std::move(it->second);
            found.erase(it);
        } else if (!GetMacBinary(paths[i], &(*out)[names[i]])) {
            return false;
        }
    }
    return true;
}

bool HfsUtils::List(HlsTree* out)
{
    const CommandResult result = Run("hls", {"-a", "-b", "-i", "-l", "-U", "-R", ":"});
    if (!Check(result, "hls")) return false;
    std::string why;
    if (!ParseHlsTree(result.out, out, &why)) {
        lastError_ = "hls output: " + why;
        return false;
    }
    return true;
}
