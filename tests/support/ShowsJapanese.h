#pragma once
// Whether a UTF-8 text holds a character that only Japanese writing uses: kana, kanji, and the
// full-width forms and punctuation of Japanese typesetting.
#include <string>

inline bool ShowsJapanese(const std::string& utf8)
{
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if ((code >= 0x3000 && code <= 0x30FF) || (code >= 0x3400 && code <= 0x9FFF) ||
            (code >= 0xFF00 && code <= 0xFFEF))
            return true;
        i += length;
    }
    return false;
}
