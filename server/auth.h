// Who a /v1/ request or WebSocket handshake is: the name of the bearer token it carries.
#pragma once

#include <string>
#include <string_view>

class TokenList;

// The name of the token that `authorization` (the header's value, "Bearer <token>") carries, or
// "-" when `tokens` is null (a server without tokens, on loopback or --insecure). False when the
// header is missing, not a bearer token, or names no token of the list.
bool authorize(std::string_view authorization, const TokenList* tokens, std::string& tokenName);
