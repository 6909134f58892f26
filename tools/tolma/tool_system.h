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
    // False when the system's name has no exact native spelling (Windows
    // lists such names through a best-fit conversion, and the converted name
    // may be another file's).
    bool exact = true;
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
// Creates path as a new empty file; false when anything exists there.
bool CreateNewFile(const std::string& path);
// Renames from over to, replacing a file there in one step.
bool RenameOver(const std::string& from, const std::string& to);
// Gives to the permissions of from, where the system has them.
void CopyPermissions(const std::string& from, const std::string& to);
// What the system said about the last failed call, for messages.
std::string LastErrorText();
char NativeSeparator();
// False when the text cannot be expressed on the other side exactly (a
// best-fit conversion that would change a character counts as none).
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
// Processors the system runs this program on; at least 1.
uint32_t ProcessorCount();

}  // namespace tool
