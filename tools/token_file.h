// A client's token file, read by the rule the Java client's Usb3kDecoder.readToken follows, with
// the same words for each refusal.
#pragma once

#include <string>

// The token of the file at `path`: its first line that is neither blank nor a # comment, without
// the spaces, tabs and carriage return around it. False with `error` when the file cannot be read,
// holds no such line, or that line is no token: a line name:token copied from the server's own
// token file, or one with a character no bearer token has (outside visible ASCII). The error names
// the file but never quotes the line, which may be a secret.
bool readTokenFile(const std::string& path, std::string& token, std::string& error);
