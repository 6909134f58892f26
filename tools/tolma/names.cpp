#include "names.h"

#include "archive/tolma_entry.h"
#include "platform/codepage.h"
#include "text/path_scan.h"
#include "tool_system.h"

namespace tolma {
namespace {

// Native names are in the ANSI code page on Windows, where the second byte of
// a double-byte character may be 0x5C; elsewhere they are UTF-8, where no byte
// of a multi-byte character is below 0x80 and a plain byte test is exact.
bool NativeIsAnsi() { return tool::NativeSeparator() == '\\'; }

// Bytes a stored name may not hold.
std::string RefusedCharacters(bool windows) {
    std::string refused = "\\/:";
    for (char c = 1; c < 0x20; ++c) refused += c;
    refused += '\x7F';
    if (windows) refused += "<>\"|?*";
    return refused;
}

// Names Windows takes as devices, whatever the extension and trailing spaces.
bool IsDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    stem = Folded(stem);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == device) return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
           stem[3] <= '9';
}

const char* Unsafe(const std::string& name, bool windows) {
    if (name.empty()) return "empty name";
    if (name == "." || name == "..") return "refers to a directory above or itself";
    static const std::string refused[2] = {RefusedCharacters(false), RefusedCharacters(true)};
    const unsigned char c = name[FindNextSeparator(name.c_str(), 0, refused[windows].c_str())];
    if (c == '\\' || c == '/') return "holds a path separator";
    if (c == ':') return "holds a drive or stream separator";
    if (c == 0x7F || (c != 0 && c < 0x20)) return "holds a control character";
    if (c != 0) return "holds a character Windows does not allow in names (< > \" | ? *)";
    // A separator appended after a lone lead byte would become its second
    // byte, joining this name to the next piece of a path.
    for (size_t i = 0; i < name.size(); ++i) {
        if (!plat::IsDBCSLeadByte(static_cast<unsigned char>(name[i]))) continue;
        if (++i == name.size()) return "ends with half a double-byte character";
    }
    // Windows drops trailing dots and spaces, which could turn a name into
    // another one ("..." into "..").
    if (windows && (name.back() == '.' || name.back() == ' ')) return "ends with a dot or a space";
    if (windows && IsDeviceName(name)) return "is a device name on Windows";
    return nullptr;
}

}  // namespace

bool ArchivePathArgument(const std::string& argument, std::string* path) {
    std::string raw;
    if (!tool::ArgumentToArchive(argument.c_str(), &raw)) return false;
    path->clear();
    for (int32_t start = 0;;) {
        const int32_t end = FindNextSeparator(raw.c_str(), start, "\\/");
        if (end > start) {
            if (!path->empty()) *path += '\\';
            path->append(raw, start, end - start);
        }
        if (raw[end] == '\0') break;
        start = end + 1;
    }
    return true;
}

bool FoldedEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && EntryNameEquals(a.c_str(), b.c_str());
}

std::string Folded(std::string name) {
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    }
    return name;
}

bool LiesBelow(const std::string& path, const std::string& dir) {
    // The backslash must start a character: one that ends a double-byte
    // character ends no directory name.
    const auto n = static_cast<int32_t>(dir.size());
    return path.size() > dir.size() && FindNextSeparator(path.c_str(), n, "\\") == n &&
           FoldedEquals(path.substr(0, dir.size()), dir);
}

const char* UnsafeName(const std::string& name) { return Unsafe(name, NativeIsAnsi()); }

const char* UnstorableName(const std::string& name) { return Unsafe(name, true); }

std::string WithoutTrailingSeparators(std::string native) {
    while (native.size() > 1) {
        const auto last = static_cast<int32_t>(native.size() - 1);
        if (NativeIsAnsi() ? FindLastSeparator(native.c_str(), "\\/") != last : native.back() != '/') break;
        native.pop_back();
    }
    return native;
}

}  // namespace tolma
