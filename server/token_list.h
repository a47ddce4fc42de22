// The bearer tokens usb3k-server accepts, read from a file only the service may read.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

class TokenList {
  public:
    // A token's SHA-256 digest: what a request or stream keeps of the token it was admitted with,
    // so that a reload can tell whether that token is still in the list.
    using Digest = std::array<unsigned char, 32>;

    struct Token {
        // For the logs; a line without `name:` is named by its line number ("line 3").
        std::string name;
        std::string secret;
    };

    // Reads `path`: one token a line, `name:token` or `token`, blank lines and `#` comments
    // ignored. Refuses a file that its group or others may read or write, or that holds no token,
    // with `error` saying why; null then.
    static std::unique_ptr<TokenList> load(const std::string& path, std::string& error);

    explicit TokenList(std::vector<Token> tokens);

    // The name of the token equal to `bearer`, compared in constant time against every token;
    // null when none is.
    const std::string* nameOf(const std::string& bearer) const;
    // Whether a token whose digest is `digest` is in the list, whatever its name (a bare token's
    // name is its line number, which other lines move), compared in constant time against every
    // token.
    bool holds(const Digest& digest) const;

    static Digest digestOf(const std::string& token);

  private:
    std::vector<Token> tokens_;
};
