#include "survey/Cp932.h"

#include "survey/CIconv.h"

#include <cstdint>

namespace {

constexpr char32_t NOT_A_CHARACTER = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at `pos` and advances past it. A malformed sequence yields
// NOT_A_CHARACTER and skips one byte, so the text after it still comes through.
char32_t NextCodePoint(std::string_view text, std::size_t& pos)
{
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80)
        return lead;
    int trailing = 0;
    char32_t cp = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        trailing = 1;
        cp = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        trailing = 2;
        cp = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        trailing = 3;
        cp = lead & 0x07;
        smallest = 0x10000;
    } else {
        return NOT_A_CHARACTER;
    }
    if (text.size() - pos < static_cast<std::size_t>(trailing))
        return NOT_A_CHARACTER;
    for (int i = 0; i < trailing; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if ((byte & 0xC0) != 0x80)
            return NOT_A_CHARACTER;
        cp = (cp << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return NOT_A_CHARACTER;
    pos += trailing;
    return cp;
}

// One converter for one call; a converter keeps no state between characters for CP932.
class CCp932Converter {
public:
    // The CP932 bytes of one character, or "?" when it has none (or the converter is missing).
    std::string Convert(char32_t cp)
    {
        if (cp < 0x80)
            return std::string(1, static_cast<char>(cp));
        if (cp == NOT_A_CHARACTER || !m_iconv.IsOpen())
            return "?";
        char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                      static_cast<char>((cp >> 16) & 0xFF), static_cast<char>((cp >> 24) & 0xFF)};
        char out[8];
        char* inPtr = in;
        char* outPtr = out;
        std::size_t inLeft = sizeof in;
        std::size_t outLeft = sizeof out;
        m_iconv.Reset();
        if (m_iconv.Convert(&inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0 || outPtr == out)
            return "?";
        return std::string(out, outPtr);
    }

private:
    CIconv m_iconv{"CP932", "UTF-32LE"};
};

} // namespace

std::string Utf8ToCp932(std::string_view utf8, std::size_t maxBytes)
{
    CCp932Converter converter;
    std::string out;
    const auto append = [&out, maxBytes](const std::string& bytes) {
        if (out.size() + bytes.size() > maxBytes)
            return false;
        out += bytes;
        return true;
    };

    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextCodePoint(utf8, pos);
        if (cp == 0)
            break;
        if (cp == U'\r' || cp == U'\n') {
            if (cp == U'\r' && pos < utf8.size() && utf8[pos] == '\n')
                ++pos;
            // CR and LF are two characters: a line break at the limit may keep its CR alone.
            if (!append("\r") || !append("\n"))
                break;
            continue;
        }
        if (!append(converter.Convert(cp)))
            break;
    }
    return out;
}
