// Running the independent tools the host tests compare against.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Writes input to a temporary file, runs `command FILE` and returns what it
// prints on standard output; *status gets its exit status.
inline std::string RunTool(const std::string& command, const std::string& input, int* status = nullptr) {
    char path[] = "/tmp/hvb-xml-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "<no temporary file>";
    const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    close(fd);
    std::string out;
    FILE* pipe = written ? popen((command + " " + path + " 2>/dev/null").c_str(), "r") : nullptr;
    int result = -1;
    if (pipe != nullptr) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        result = pclose(pipe);
    }
    unlink(path);
    if (status != nullptr) *status = result;
    return out;
}

inline std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Bytes as UTF-16LE.
inline std::string Utf16Le(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

inline std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return out;
}
