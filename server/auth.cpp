#include "server/auth.h"

#include <cctype>

bool authorize(std::string_view authorization, const TokenList* tokens, std::string& tokenName,
               std::optional<TokenList::Digest>& digest) {
    digest.reset();
    if (tokens == nullptr) {
        tokenName = "-";
        return true;
    }
    constexpr std::string_view scheme = "bearer";
    if (authorization.size() <= scheme.size())
        return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != scheme[i])
            return false;
    }
    std::string_view rest = authorization.substr(scheme.size());
    if (rest.front() != ' ')
        return false;
    std::size_t first = rest.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return false;
    std::string_view token = rest.substr(first);
    while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
    const std::string* name = tokens->nameOf(std::string(token));
    if (name == nullptr)
        return false;
    tokenName = *name;
    digest = TokenList::digestOf(std::string(token));
    return true;
}

bool tokenRevoked(const std::optional<TokenList::Digest>& digest, const TokenList& tokens) {
    return digest && !tokens.holds(*digest);
}
