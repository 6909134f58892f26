// Whole programs run as a user runs them from the system's command processor,
// for the tests of the command-line tools.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "support/test_files.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace test_process {

// One argument as the command processor hands it on unchanged.
inline std::string Quote(const std::string& s) {
#if defined(_WIN32)
    // Backslashes before a quote are doubled, or the closing quote would be
    // taken as a literal one. A double-byte character is never a backslash,
    // whatever its second byte.
    std::string out = "\"";
    size_t backslashes = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (plat::IsDBCSLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
            out += s[++i];
            backslashes = 0;
        } else {
            backslashes = s[i] == '\\' ? backslashes + 1 : 0;
        }
    }
    return out + std::string(backslashes, '\\') + "\"";
#else
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

// Runs the program with the arguments, its standard output and error going to
// the two files and coming back in out and err as they were written. The exit
// status, or -1 when the program could not be run or did not exit.
inline int Run(const std::string& program, const std::vector<std::string>& arguments, const std::string& out_path,
               const std::string& err_path, std::string* out, std::string* err) {
    std::string command = Quote(program);
    for (const std::string& a : arguments) command += " " + Quote(a);
    command += " >" + Quote(out_path) + " 2>" + Quote(err_path);
#if defined(_WIN32)
    // The command processor strips one pair of quotes around it all.
    const int status = std::system(("\"" + command + "\"").c_str());
#else
    int status = std::system(command.c_str());
    status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    const std::vector<uint8_t> o = ReadHostFile(out_path), e = ReadHostFile(err_path);
    out->assign(o.begin(), o.end());
    err->assign(e.begin(), e.end());
    return status;
}

}  // namespace test_process
