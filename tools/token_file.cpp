#include "tools/token_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What surrounds a line but is not part of it, a CRLF file's carriage return among them.
constexpr const char* AROUND = " \t\r";

// Why the file could not be read, in the Java client's words: the system's in lower case ("no such
// file or directory"), and "it is a directory" for a folder.
std::string reasonOf(int error) {
    if (error == EISDIR) {
        return "it is a directory";
    }
    std::string reason = std::strerror(error);
    for (char& c : reason) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return reason;
}

bool readWhole(const std::string& path, std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read the token file " + path + ": " + reasonOf(errno);
        return false;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    // A folder opens, and fails only when read.
    const int readError = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (readError != 0) {
        error = "cannot read the token file " + path + ": " + reasonOf(readError);
        return false;
    }
    return true;
}

// What an Authorization header can carry as a bearer token: visible ASCII only.
bool isBearerToken(const std::string& token) {
    for (unsigned char c : token) {
        if (c < 0x21 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readTokenFile(const std::string& path, std::string& token, std::string& error) {
    std::string text;
    if (!readWhole(path, text, error)) {
        return false;
    }
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == text.npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find_first_not_of(AROUND);
        if (first == line.npos || line[first] == '#') {
            continue;
        }
        const std::string found = line.substr(first, line.find_last_not_of(AROUND) + 1 - first);
        if (found.find(':') != found.npos) {
            error = "the token file " + path +
                    " holds a line name:token, as the server's own token file does: leave out "
                    "\"name:\" and keep only the token";
            return false;
        }
        if (!isBearerToken(found)) {
            error = "the token file " + path +
                    " holds a token with a character a token cannot have (a space, a control "
                    "character or one outside ASCII)";
            return false;
        }
        token = found;
        return true;
    }
    error = "the token file " + path +
            " holds no token: its first line that is neither blank nor a # comment is the token";
    return false;
}
