#include "server/log_text.h"

#include <boost/locale/utf.hpp>

namespace {

void appendEscaped(std::string& out, std::string_view bytes) {
    static const char DIGITS[] = "0123456789ABCDEF";
    for (char byte : bytes) {
        auto value = static_cast<unsigned char>(byte);
        out += "\\x";
        out += DIGITS[value >> 4];
        out += DIGITS[value & 0x0F];
    }
}

bool isControlOrSpace(boost::locale::utf::code_point c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

std::string logText(std::string_view text, std::size_t maxChars) {
    using Utf8 = boost::locale::utf::utf_traits<char>;
    std::string out;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t chars = 0; at != end; ++chars) {
        if (chars == maxChars) {
            out += "...";
            break;
        }
        const char* next = at;
        boost::locale::utf::code_point c = Utf8::decode(next, end);
        if (c == boost::locale::utf::illegal || c == boost::locale::utf::incomplete) {
            appendEscaped(out, std::string_view(at, 1));
            next = at + 1;
        } else if (c == '\\') {
            out += "\\\\";
        } else if (isControlOrSpace(c)) {
            appendEscaped(out, std::string_view(at, static_cast<std::size_t>(next - at)));
        } else {
            out.append(at, next);
        }
        at = next;
    }
    return out;
}
