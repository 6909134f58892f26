// What the archive tool needs from the operating system beyond the library's
// file objects: directory listings, directory creation, the kind of a path,
// the console, and the translation between names as the system spells them
// ("native": UTF-8 on POSIX, the ANSI code page on Windows) and as archives
// store them (the ANSI code page, Shift-JIS).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

enum class PathKind { None, File, Directory, Link, Other };

struct DirectoryItem {
    std::string name;  // native
    // Links to directories are Link: followed they could loop.
    PathKind kind;
};

// Sorted by name; false when the directory cannot be read. Links to files
// are reported as files.
bool ListDirectory(const std::string& path, std::vector<DirectoryItem>* items);
// Symbolic links and reparse points are reported as Link, never followed.
PathKind GetPathKind(const std::string& path);
// Size and last-write time (100 ns units since 1601, UTC) of a file.
bool GetFileInfo(const std::string& path, uint64_t* size, uint64_t* write_time);
// Whether both paths name one existing file, through whatever links: the
// same device and file number (volume and file index on Windows).
bool SameFile(const std::string& a, const std::string& b);
// True when the directory exists afterwards.
bool MakeDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
char NativeSeparator();
// Names the system gives a meaning of its own (devices on Windows).
bool IsReservedName(const std::string& archive_name);

// False when the text cannot be expressed on the other side.
bool NativeToArchive(const std::string& native, std::string* archive);
bool ArchiveToNative(const std::string& archive, std::string* native);
// The program's arguments in the native spelling. On Windows they are split
// from the wide command line, where no byte of a double-byte character can
// pass for a backslash or a quote.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Arguments arrive in the native spelling.
bool ArgumentToArchive(const char* argument, std::string* archive);

// UTF-8 text to standard output / standard error, shown correctly on a
// console whatever its code page.
void PrintOut(const std::string& utf8);
void PrintError(const std::string& utf8);
// Raw bytes to standard output.
bool WriteOut(const void* data, uint32_t count);
bool ErrorIsTerminal();

}  // namespace tool
