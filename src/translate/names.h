// Names between the two systems: cleaning a Mac name into a PC name with an
// extension, settling a clash with an existing PC file (automatic renaming,
// or the taken-name question), and creating a Mac file for a copy with its
// own taken-name question.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/window_system.h"
#include "translate/byte_stream.h"

// Answers of the naming operations.
enum CollisionResult : int {
    kCollisionGoOn = 0,      // the name in the buffer is to be used (free, new, or to be replaced)
    kCollisionSkip = 1,
    kCollisionCancel = 2,
    kCollisionFailed = -1,   // CreateMacFileForCopy only: StatusCode set
};

// The taken name while Ws().AskNameExists asks about it (the buffer it
// was handed); null otherwise.
extern char* CollisionName;

// The native path of a PC name (Windows-1252) in the operation's PC
// directory (CurrentOptions.pcDirectory, the current directory when empty).
// False when it does not fit.
bool PcNativePath(const char* name, char* native, size_t size);

extern const char PcNameCharacters[];
extern const uint8_t OemTable[128];

void AnsiToOem(const char* source, char* destination);
void OemToAnsi(const char* source, char* destination);
// Cleans a PC name in place (256-byte buffer) and appends the extension.
void SanitizePcName(char* name, const char* extension);
int MakePcName(char* name, const char* extension);
int ResolvePcCollision(char* name);
// Creates the Mac file `name` (cut to 31 characters) in the current Mac
// folder and opens a write stream on the data fork (forkFlag 0) or the
// resource fork (StreamResourceFork) into *slot.
int CreateMacFileForCopy(char* name, uint8_t forkFlag, TransferRecord* record, int* slot);

bool PcFileExists(const char* name);
// Seconds since 1970, or 0 when the file's status cannot be read.
int64_t PcFileModifiedTime(const char* name);
void SetPcFileDate(const char* name, int64_t unixSeconds);

// For front ends that settle a Mac clash without asking: what the name (a
// Windows-1252 string, cut to 31 characters) is in the Mac pane's current
// folder: 0 free, kItemFile, kItemFolder, or -1 with StatusCode set.
int MacNameKind(const char* name);
// Replaces `name` by the first free name of the form "base N.ext" (N from 1
// to 999, the base shortened so the whole fits 31 characters; ".ext" is a
// last-dot part of at most 5 characters). False when there is none or a
// lookup failed (StatusCode set).
bool MakeFreeMacName(char* name);
