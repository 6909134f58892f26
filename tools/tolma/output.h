// What the tool says on the terminal besides a command's own results: error
// lines, archive and native names as shown to the user, and a progress bar.
#pragma once

#include <cstdint>
#include <string>

namespace tolma {

// "tolma: TEXT" on standard error.
void Error(const std::string& text);

// Archive text (names, library messages) for the terminal; control
// characters in untrusted names are shown escaped.
std::string Shown(const std::string& archive_text);
std::string Quoted(const std::string& archive_text);
// A name in the system's spelling, quoted like an archive name.
std::string NativeShown(const std::string& native);

// A bar on standard error for work of at least 8 MiB, when standard error
// is a terminal; nothing otherwise.
class Progress {
public:
    explicit Progress(uint64_t total);
    ~Progress() { Finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Add(uint64_t bytes);
    // Clears the bar, for good: a message may follow.
    void Finish();

private:
    uint64_t total_;
    uint64_t done_ = 0;
    bool shown_;
    int last_ = -1;
};

}  // namespace tolma
