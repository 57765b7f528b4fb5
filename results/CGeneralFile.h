#pragma once
// Whole-file reads and writes that report their failures in message boxes whose texts begin with
// "CGeneralFile:". No state.
#include <string>

namespace CGeneralFile {

// 1 when the file was opened and written in full, 0 otherwise (after showing the message).
int Save(const std::string& path, const void* buffer, int length);

// `count` is the buffer's capacity on entry and the number of bytes read on return (0 when the
// file cannot be opened). 1 on success, 0 on failure (after showing the message).
int Load(const std::string& path, void* buffer, int& count);

// 1 when a regular file at `path` can be opened for reading; no message.
int Exists(const std::string& path);

// Shows the message of `code`: 0 open failed, 1 size unknown, 2 write failed, else undefined.
void ReportError(int code);

} // namespace CGeneralFile
