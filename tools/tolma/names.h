// Names and paths between the command line, the archive and the file system:
// typed paths in the archive's spelling, comparisons as the archive makes
// them, and the names extraction refuses.
#pragma once

#include <string>

namespace tolma {

// A path typed by the user, in the archive's spelling: slashes become
// backslashes, empty pieces go. False when it has no form in the archive's
// code page.
bool ArchivePathArgument(const std::string& argument, std::string* path);

// Archive paths compared as the archive compares names.
bool FoldedEquals(const std::string& a, const std::string& b);
// The spelling all names FoldedEquals to this one share.
std::string Folded(std::string name);
// Whether path lies below the directory dir (not dir itself).
bool LiesBelow(const std::string& path, const std::string& dir);

// Why a stored name may not become a file or directory name below the
// destination, or null when it may.
const char* UnsafeName(const std::string& name);
// Why a name may not be stored: the rules of extraction on Windows, where
// the archive is read, whatever system writes it. Null when it may.
const char* UnstorableName(const std::string& name);

// A native directory path without trailing separators; a lone one stays.
std::string WithoutTrailingSeparators(std::string native);

}  // namespace tolma
