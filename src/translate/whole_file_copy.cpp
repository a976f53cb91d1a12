#include "translate/whole_file_copy.h"

#include <cstdio>
#include <cstring>

#include "core/status.h"
#include "hfs/mac_names.h"
#include "translate/names.h"
#include "translate/registry.h"

void OpenMacToPcCopy(const uint8_t* macName, uint32_t folderId, uint16_t translator, WholeFileCopy* copy)
{
    TransferRecord& source = copy->sourceRecord;
    Str31(macName).CopyTo(source.name);
    source.parentId = folderId;
    copy->source = OpenStream(StreamMacFork, &source);
    if (copy->source < 0) return;
    MacNameToPc(copy->destinationRecord.name, reinterpret_cast<const uint8_t*>(source.name), true);
    if (MakePcName(copy->destinationRecord.name, TranslatorTable[translator].extension) == kCollisionGoOn)
        copy->destination = OpenStream(StreamPcFile | StreamWrite, &copy->destinationRecord);
}

void OpenPcSource(const char* pcName, WholeFileCopy* copy)
{
    std::snprintf(copy->sourceRecord.name, sizeof copy->sourceRecord.name, "%s", pcName);
    copy->source = OpenStream(StreamPcFile, &copy->sourceRecord);
}

void CreateMacDestination(WholeFileCopy* copy)
{
    TransferRecord& record = copy->destinationRecord;
    copy->destination = OpenStream(StreamMacFork | StreamWrite, &record);
    if (copy->destination >= 0 || StatusCode != kStatusNameExists) return;
    // The name is taken: the clash dialog works on its PC form, as for any
    // other copy to the Mac.
    StatusCode = 0;
    char name[256];
    MacNameToPc(name, reinterpret_cast<const uint8_t*>(record.name), true);
    if (CreateMacFileForCopy(name, 0, &record, &copy->destination) != kCollisionGoOn) {
        CloseStream(copy->destination);  // a skip or cancel opens nothing; be sure of it
        copy->destination = -1;
    }
}

void CloseCopy(WholeFileCopy* copy)
{
    CloseStream(copy->destination);
    CloseStream(copy->source);
}
