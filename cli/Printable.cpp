#include "Printable.h"

namespace {

// The length of the well-formed UTF-8 sequence at `text[at]` and its code
// point, or 0 when none begins there.
size_t Utf8Sequence(const std::string& text, size_t at, unsigned& point)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || lead >= 0xF5 || at + length > text.size())
        return 0;
    point = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (next & 0x3F);
    }
    return length;
}

} // namespace

std::string Printable(const std::string& text)
{
    static const char c_szHex[] = "0123456789abcdef";
    const auto escape = [](std::string& out, unsigned char c) {
        out += "\\x";
        out += c_szHex[c >> 4];
        out += c_szHex[c & 15];
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned point = 0;
        const size_t length = c >= 0x80 ? Utf8Sequence(text, i, point) : 0;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            // C0 controls, and C1 ones as single bytes (0x9B starts a
            // control sequence on some terminals).
            escape(out, c);
        } else if (length > 0 && point >= 0x80 && point < 0xA0) {
            // C1 controls in UTF-8.
            for (size_t k = 0; k < length; ++k)
                escape(out, static_cast<unsigned char>(text[i + k]));
            i += length - 1;
        } else if (length > 0) {
            out.append(text, i, length);
            i += length - 1;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += char(c);
        }
    }
    return out;
}
