// What the tool says on the terminal besides a command's own results: error
// lines, archive and native names as shown to the user, and a progress bar.
#pragma once

#include <cstdint>
#include <string>

namespace tolma {

// "tolma: TEXT" on standard error, on a line of its own: a progress line
// being shown is cleared first and drawn again after.
void Error(const std::string& text);
// A command's own result line on standard output, likewise.
void Report(const std::string& text);

// Archive text (names, library messages) for the terminal; control
// characters in untrusted names are shown escaped.
std::string Shown(const std::string& archive_text);
std::string Quoted(const std::string& archive_text);
// A name in the system's spelling, quoted like an archive name.
std::string NativeShown(const std::string& native);

// One updating line on standard error while files are stored, extracted or
// checked (files and bytes done of the total, and the rate), when standard
// error is a terminal; nothing otherwise. Verbose, it names each file on a
// line of its own as the file begins, terminal or not.
class Progress {
public:
    Progress(uint64_t total_bytes, uint32_t total_files, bool verbose);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void BeginFile(const std::string& shown_name);
    void Add(uint64_t bytes);
    // Clears the line, for good: a message may follow.
    void Finish();

    // Around a message: the line goes, and comes back after it.
    void Clear();
    void Redraw();

private:
    void Draw(bool now);

    uint64_t total_;
    uint32_t files_total_;
    bool verbose_;
    bool shown_;
    uint64_t done_ = 0;
    uint32_t files_ = 0;
    uint32_t start_ms_;
    uint32_t drawn_ms_ = 0;
    size_t drawn_width_ = 0;
};

}  // namespace tolma
