#include "support/hfsutils_driver.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Undoes the backslash escapes of `hls -b`: \n \b \r \t \f, three octal
// digits, or the character itself.
std::string UnescapeHlsName(const std::string& escaped)
{
    std::string out;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\' || i + 1 >= escaped.size()) {
            out += escaped[i];
        } else if (const size_t k = std::string("nbrtf").find(escaped[++i]); k != std::string::npos) {
            out += "\n\b\r\t\f"[k];
        } else if (escaped[i] >= '0' && escaped[i] <= '7' && i + 2 < escaped.size()) {
            out += static_cast<char>((escaped[i] - '0') * 64 + (escaped[i + 1] - '0') * 8 + (escaped[i + 2] - '0'));
            i += 2;
        } else {
            out += escaped[i];
        }
    }
    return out;
}

// `hls -a -b -i -l -U -R` output: a ":A:B:" line before each folder's
// entries; each entry the ID, d/f/F with an i when invisible, then a
// folder's item count or a file's type/creator and fork lengths, the
// 12-character date and the escaped name.
bool ParseHlsTree(const std::string& text, HlsTree* out, std::string* why)
{
    static const std::regex entry(" *(\\d+) ([dfF])(i| ) +(?:(\\d+) items?|.{4}/.{4} +(\\d+) +(\\d+)) +.{12} (.+)");
    out->clear();
    std::string folder = ":";
    (*out)[folder];
    std::istringstream in(text);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        if (line[0] == ':') {
            folder = line.size() > 1 && line.back() == ':' ? line.substr(0, line.size() - 1) : line;
            (*out)[folder];
            continue;
        }
        if (!std::regex_match(line, m, entry)) {
            *why = "line not understood: " + line;
            return false;
        }
        HlsEntry e;
        e.cnid = static_cast<uint32_t>(std::stoul(m.str(1)));
        e.folder = m.str(2) == "d";
        e.invisible = m.str(3) == "i";
        e.valence = e.folder ? static_cast<uint32_t>(std::stoul(m.str(4))) : 0;
        e.rsrcLength = e.folder ? 0 : static_cast<uint32_t>(std::stoul(m.str(5)));
        e.dataLength = e.folder ? 0 : static_cast<uint32_t>(std::stoul(m.str(6)));
        e.name = UnescapeHlsName(m.str(7));
        (*out)[folder].push_back(e);
    }
    return true;
}

}  // namespace

bool HasHfsGlobCharacter(const std::string& path) { return path.find_first_of("*?[\\{") != std::string::npos; }

bool HfsUtilsAvailable()
{
    for (const char* tool : {"hformat", "hmount", "hls", "hcopy", "hmkdir", "hattrib", "hdel"})
        if (!ProgramAvailable(tool)) return false;
    return true;
}

CommandResult HfsUtils::Run(const std::string& tool, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, CommandOptions{{{"HOME", home_.Path()}, {"TZ", "UTC"}, {"LC_ALL", "C"}}, "", ""});
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

bool HfsUtils::RunInGroups(const std::string& tool, const std::vector<std::string>& fixed,
                           const std::vector<std::string>& many, const std::string& last)
{
    for (size_t first = 0; first < many.size(); first += 200) {
        std::vector<std::string> args = fixed;
        args.insert(args.end(), many.begin() + static_cast<long>(first),
                    many.begin() + static_cast<long>(std::min(many.size(), first + 200)));
        if (!last.empty()) args.push_back(last);
        if (!Check(Run(tool, args), tool + " " + last)) return false;
    }
    return true;
}

bool HfsUtils::Format(const std::string& path, const std::string& label, uint64_t bytes)
{
    std::error_code error;
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    fs::resize_file(path, bytes, error);
    if (error) {
        lastError_ = "cannot make " + path + ": " + error.message();
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
    // hcopy names each copy after its source file.
    const TempDir sources;
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) paths.push_back(sources.WriteFile(name, bytes));
    return CheckPaths({hfsFolder}) && RunInGroups("hcopy", {"-r"}, paths, hfsFolder);
}

bool HfsUtils::PutMacBinary(const std::vector<MacFileImage>& files, const std::string& hfsFolder)
{
    const TempDir sources;
    std::vector<std::string> paths;
    for (const MacFileImage& file : files)
        paths.push_back(sources.WriteFile("in" + std::to_string(paths.size()) + ".bin", WriteMacBinary(file)));
    return CheckPaths({hfsFolder}) && RunInGroups("hcopy", {"-m"}, paths, hfsFolder);
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
    return CheckPaths(hfsPaths) && RunInGroups("hdel", {}, hfsPaths, "");
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
    if (!ReadMacBinary(result.out, out, &why)) lastError_ = "hcopy -m output for " + hfsPath + ": " + why;
    return why.empty();
}

bool HfsUtils::GetMacBinaryMany(const std::string& hfsFolder, const std::vector<std::string>& names,
                                std::map<std::string, MacFileImage>* out)
{
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(hfsFolder == ":" ? ":" + name : hfsFolder + ":" + name);
    const TempDir dir;
    if (!CheckPaths(paths) || !RunInGroups("hcopy", {"-m"}, paths, dir.Path() + "/")) return false;
    // hcopy names each copy after the file, made fit for the PC: the
    // headers tell which is which.
    for (const auto& item : fs::directory_iterator(dir.Path())) {
        MacFileImage file;
        std::string why;
        if (!ReadMacBinary(ReadFileBytes(item.path().string()), &file, &why)) {
            lastError_ = "hcopy -m output " + item.path().string() + ": " + why;
            return false;
        }
        (*out)[file.name] = std::move(file);
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (!out->count(names[i]) && !GetMacBinary(paths[i], &(*out)[names[i]])) return false;
    return true;
}

bool HfsUtils::List(HlsTree* out)
{
    const CommandResult result = Run("hls", {"-a", "-b", "-i", "-l", "-U", "-R", ":"});
    std::string why;
    if (!Check(result, "hls")) return false;
    if (!ParseHlsTree(result.out, out, &why)) lastError_ = "hls output: " + why;
    return why.empty();
}
