// A client's text as a field of a log line: it cannot end the line, forge another, make the log
// binary, or run on without bound.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `text` with each control character (below 0x20, DEL and the C1 controls), each space (the line's
// fields are separated by spaces) and each byte that is not part of valid UTF-8 written as \xNN,
// and a backslash as \\; cut after `maxChars` characters of `text`, the cut marked by "...".
std::string logText(std::string_view text, std::size_t maxChars);
