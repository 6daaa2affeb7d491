// Turns the upgrade companion's log back into text: the file stores every
// byte with its nibbles swapped and ends each record with a zero byte.
#pragma once

#include <windows.h>

#include <string>

// The log's usual place: the documents folder's application log folder.
// Empty when the documents folder is unknown.
std::wstring DefaultLogDecodeInput();

// The file's bytes with the swap undone, exactly as they were before writing.
std::string DecodeLogBytes(const std::string& strRaw);

// Decoded bytes without the zero byte that ends every record, for reading.
std::string ReadableLogText(const std::string& strDecoded);

// Reads a whole file without hindering the program that is writing it.
// False with a message when it cannot be read.
bool ReadWholeFile(const std::wstring& strPath, std::string& strData, std::wstring& strError);

// Replaces (or creates) the file with the bytes. False with a message on failure.
bool WriteWholeFile(const std::wstring& strPath, const std::string& strData, std::wstring& strError);

// True when both names lead to the same file on disk.
bool IsSameFile(const std::wstring& strFirst, const std::wstring& strSecond);
