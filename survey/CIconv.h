#pragma once
// One iconv(3) conversion, closed with its owner. Both directions of the comment's code page use it.
#include <cstddef>

#include <iconv.h>

class CIconv {
public:
    CIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~CIconv()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    // False when the C library lacks the conversion.
    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    // Back to the initial shift state, as before a new text.
    void Reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }
    // iconv(3) itself: (size_t)-1 with errno on failure.
    std::size_t Convert(char** in, std::size_t* inLeft, char** out, std::size_t* outLeft)
    {
        return iconv(m_cd, in, inLeft, out, outLeft);
    }

private:
    iconv_t m_cd;
};
