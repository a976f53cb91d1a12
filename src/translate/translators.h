// The operations of the five translators. Mac-to-PC operations read a Mac
// file of the given folder and write a PC file into the current directory;
// PC-to-Mac operations read a PC file of the current directory and create a
// Mac file in the given folder (the Mac pane's current folder). Failures are
// left in StatusCode; a skipped file leaves it 0.
#pragma once
#include <cstdint>

void DataMacToPc(const uint8_t* macName, uint32_t folderId);
void DataPcToMac(const char* pcName, uint32_t folderId);
void TextMacToPc(const uint8_t* macName, uint32_t folderId);
void TextPcToMac(const char* pcName, uint32_t folderId);
void ResourceMacToPc(const uint8_t* macName, uint32_t folderId);
void ResourcePcToMac(const char* pcName, uint32_t folderId);
void MacBinaryMacToPc(const uint8_t* macName, uint32_t folderId);
void MacBinaryPcToMac(const char* pcName, uint32_t folderId);
void BinHexMacToPc(const uint8_t* macName, uint32_t folderId);
void BinHexPcToMac(const char* pcName, uint32_t folderId);
