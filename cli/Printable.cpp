#include "Printable.h"

std::string Printable(const std::string& text)
{
    static const char c_szHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += c_szHex[c >> 4];
            out += c_szHex[c & 15];
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += char(c);
        }
    }
    return out;
}
