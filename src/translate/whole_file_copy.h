// The streams of the two translators that carry a whole Mac file (both forks
// and its Finder information) in one PC file, MacBinary and BinHex: one
// stream each side, opened and closed the same way for both formats.
#pragma once
#include <cstdint>

#include "translate/byte_stream.h"

struct WholeFileCopy {
    int source = -1;
    int destination = -1;
    TransferRecord sourceRecord{};
    TransferRecord destinationRecord{};
};

// Mac to PC: opens the Mac file `macName` (cut to 31 characters) of
// `folderId` for reading, which fills sourceRecord (lengths, dates, Finder
// info), then names the PC file after it with the extension of translator
// `translator` (settling a clash with an existing PC file) and opens it for
// writing. A stream that is not opened stays -1: StatusCode is set, or 0
// when the user skipped the name.
void OpenMacToPcCopy(const uint8_t* macName, uint32_t folderId, uint16_t translator, WholeFileCopy* copy);
// PC to Mac: opens the PC file `pcName` of the current directory for
// reading; source stays -1 when it cannot be opened (StatusCode set).
void OpenPcSource(const char* pcName, WholeFileCopy* copy);
// PC to Mac: creates the Mac file destinationRecord describes (name, Finder
// info, dates, parentId) and opens its data fork for writing. A taken name
// goes to the Mac clash dialog, which may rename or replace; destination
// stays -1 after a failure (StatusCode set) or a skip or cancel there.
void CreateMacDestination(WholeFileCopy* copy);
// Closes the destination, then the source: a PC destination closed with
// StatusCode set is deleted.
void CloseCopy(WholeFileCopy* copy);
