// Who a /v1/ request or WebSocket handshake is: the name of the bearer token it carries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/token_list.h"

// The name of the token that `authorization` (the header's value, "Bearer <token>") carries, or
// "-" when `tokens` is null (a server without tokens, on loopback or --insecure), and its digest
// (none without tokens), by which a reload of the token list tells whether it was revoked. False
// when the header is missing, not a bearer token, or names no token of the list.
bool authorize(std::string_view authorization, const TokenList* tokens, std::string& tokenName,
               std::optional<TokenList::Digest>& digest);

// Whether the token a request or stream was admitted with (`digest`, from authorize) is no longer
// in `tokens`, the list a reload made: never for one admitted without tokens.
bool tokenRevoked(const std::optional<TokenList::Digest>& digest, const TokenList& tokens);
