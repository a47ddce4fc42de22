#include "server/token_list.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <sstream>

namespace {

static_assert(sizeof(TokenList::Digest) == SHA256_DIGEST_LENGTH);

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// What a file that is not a regular file is, for the refusal.
const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "another kind of file";
}

// Reads the whole file through one descriptor, so that the mode checked is that of the file read.
// O_NONBLOCK: opening a FIFO does not wait for a writer (nor a device for its line), so that the
// check below refuses it at once; a regular file is read as it would be without.
bool readPrivateFile(const std::string& path, std::string& text, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = "token file " + path + ": cannot be opened";
        return false;
    }
    struct stat status {};
    bool ok = fstat(fd, &status) == 0;
    if (ok && !S_ISREG(status.st_mode)) {
        error = "token file " + path + ": not a regular file but " + kindOf(status.st_mode);
        ok = false;
    } else if (ok && (status.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        error = "token file " + path + ": its group or others may read or write it (mode " + mode +
                "); make it readable by the service only: chmod 600 " + path;
        ok = false;
    }
    char buffer[4096];
    ssize_t got = 0;
    while (ok && (got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (ok && got < 0) {
        error = "token file " + path + ": cannot be read";
        ok = false;
    }
    close(fd);
    return ok;
}

}  // namespace

std::unique_ptr<TokenList> TokenList::load(const std::string& path, std::string& error) {
    std::string text;
    if (!readPrivateFile(path, text, error)) {
        return nullptr;
    }
    std::vector<Token> tokens;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        Token token{"line " + std::to_string(number), line};
        std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            token.name = trimmed(line.substr(0, colon));
            token.secret = trimmed(line.substr(colon + 1));
        }
        if (token.name.empty() || token.secret.empty()) {
            error = "token file " + path + ", line " + std::to_string(number) +
                    ": expected name:token or token";
            return nullptr;
        }
        tokens.push_back(std::move(token));
    }
    if (tokens.empty()) {
        error = "token file " + path + ": holds no token";
        return nullptr;
    }
    return std::make_unique<TokenList>(std::move(tokens));
}

TokenList::TokenList(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

// Tokens are compared by their SHA-256 digests: equal lengths whatever the token's length, so the
// comparison's time tells nothing of how long a token is or how much of it matched.
TokenList::Digest TokenList::digestOf(const std::string& token) {
    Digest digest{};
    SHA256(reinterpret_cast<const unsigned char*>(token.data()), token.size(), digest.data());
    return digest;
}

bool TokenList::holds(const Digest& digest) const {
    bool found = false;
    for (const Token& token : tokens_) {
        const Digest expected = digestOf(token.secret);
        found |= CRYPTO_memcmp(digest.data(), expected.data(), digest.size()) == 0;
    }
    return found;
}

const std::string* TokenList::nameOf(const std::string& bearer) const {
    const Digest offered = digestOf(bearer);
    const std::string* name = nullptr;
    // Every token is compared, whichever matches, so that the time taken does not say which.
    for (const Token& token : tokens_) {
        const Digest expected = digestOf(token.secret);
        bool equal = CRYPTO_memcmp(offered.data(), expected.data(), offered.size()) == 0;
        if (equal && name == nullptr) {
            name = &token.name;
        }
    }
    return name;
}
