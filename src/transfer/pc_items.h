// The entries of one PC directory as the PC pane and the tree walks see
// them. A link (symbolic link, junction, other reparse point) is an item of
// its own kind: it is listed and can be deleted as a link, but never entered
// and never read as a file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum : uint16_t {
    kPcDirectory = 1,
    kPcFile = 2,
    kPcLink = 3,     // a link, whatever it points to
    kPcSpecial = 4,  // a FIFO, socket or device: never opened
};

struct PcItem {
    uint32_t size;      // bytes of a file; 0xFFFFFFFF at 4 GiB or more; 0 for the rest
    uint32_t modified;  // last write, packed local DOS date (high 16 bits) and time
    uint16_t kind;
    std::string name;   // Windows-1252, as the engine names PC files
};

// The entries of the directory at the native path `directory`, "." and ".."
// left out, in no particular order; names with no Windows-1252 form are
// listed with '?' in place of the characters they lack. False when the
// directory cannot be read (the items read so far stay in `items`).
bool ReadPcDirectory(const char* directory, std::vector<PcItem>* items);

// `directory` (native) joined with the Windows-1252 `name`, in native form.
// False when the name cannot be converted or the path does not fit.
bool PcChildPath(const std::string& directory, const std::string& name, std::string* path);
