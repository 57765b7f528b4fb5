#pragma once
// Whole-file reads and writes that report their failures in message boxes whose texts begin with
// "CGeneralFile:". No state.
#include <string>

struct stat;

namespace CGeneralFile {

constexpr int ERROR_OPEN = 0;
constexpr int ERROR_SIZE = 1;
constexpr int ERROR_WRITE = 2;
constexpr int ERROR_UNDEFINED = 3;

// Every function looks `path` up relative to the directory descriptor `directory` (AT_FDCWD for
// the working directory), one name at a time, so a path need not fit PATH_MAX. Symbolic links
// are followed, except a link in a sticky directory everyone may write in (such as /tmp) whose
// owner is neither us nor the directory's owner: such a file counts as one that cannot be opened.
// The overloads without `directory` use AT_FDCWD.

// 1 when the file was opened and written in full, 0 otherwise (after showing the message).
//
// The new content replaces the old one whole: it goes to a temporary file beside the target,
// which is flushed and renamed over it, so a crash or a full disk never leaves a truncated file.
// The old file's permissions are kept, and a symbolic link is written through to its target.
// A target that cannot be opened for writing, or that is not a regular file, is left untouched
// and gets the open message. Where no temporary file can be made (a read-only directory), the
// file is rewritten in place.
int Save(int directory, const std::string& path, const void* buffer, int length);
int Save(const std::string& path, const void* buffer, int length);

// `count` is the buffer's capacity on entry and the number of bytes read on return (0 when the
// file cannot be opened or read; the buffer is then unchanged). 1 on success, 0 on failure (after
// showing the message). Anything but a regular file counts as one that cannot be opened.
int Load(int directory, const std::string& path, void* buffer, int& count);
int Load(const std::string& path, void* buffer, int& count);

// 1 when a regular file at `path` can be opened for reading; no message.
int Exists(int directory, const std::string& path);
int Exists(const std::string& path);

// Whether the symbolic link `link` (as fstatat reports it, not followed) in `directory` may be
// followed. The rule the kernel applies when fs.protected_symlinks is on, applied here whatever
// the setting: in a sticky directory everyone may write in, only links of our own or of the
// directory's owner are followed. Otherwise a link planted in /tmp could point a save at any of
// our files. Every file kept beside result.dat goes by this one rule.
bool MayFollow(int directory, const struct stat& link);

// Opens what `path` leads to with `flags` (and `mode` for a file it creates), looking it up as the
// functions above do: one name at a time, every symbolic link on the way checked by MayFollow, the
// final name opened with O_NOFOLLOW so that it cannot turn into a link meanwhile. A file created
// with O_CREAT | O_EXCL has its directory flushed too, so that its name survives a crash. Returns
// the descriptor, or -1 with errno set; no message.
int OpenAt(int directory, const std::string& path, int flags, unsigned mode = 0);

// Shows the message of `code`: ERROR_OPEN, ERROR_SIZE, ERROR_WRITE, else the undefined error.
void ReportError(int code);

namespace testing_hooks {
// Called by Save with the temporary file's name after it is written and flushed, just before it
// replaces the target. Lets a test end the process at the worst moment. nullptr (the default) for none.
using BeforeReplaceHook = void (*)(const std::string& temporaryName);
void SetBeforeReplaceHook(BeforeReplaceHook hook);
} // namespace testing_hooks

} // namespace CGeneralFile
