#pragma once
// Small text helpers the device layer and the application share.
#include <cctype>
#include <string>
#include <string_view>

// The text without white space at either end.
inline std::string strTrim(std::string_view strText)
{
    size_t nBegin = 0;
    size_t nEnd = strText.size();
    while (nBegin < nEnd && std::isspace(static_cast<unsigned char>(strText[nBegin])))
        ++nBegin;
    while (nEnd > nBegin && std::isspace(static_cast<unsigned char>(strText[nEnd - 1])))
        --nEnd;
    return std::string(strText.substr(nBegin, nEnd - nBegin));
}

// The text in upper case (ASCII letters only).
inline std::string strUpper(std::string_view strText)
{
    std::string strOut(strText);
    for (char& c : strOut)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return strOut;
}

// Whether two texts are equal but for the case of their ASCII letters.
inline bool bEqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The value of one hexadecimal digit (either case), or -1 for any other character.
inline int nHexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The hexadecimal digits of the text in upper case, every other character
// dropped, at most `nMax` of them: what a hex-only edit box keeps.
inline std::string strHexDigitsOnly(std::string_view strText, size_t nMax)
{
    std::string strKept;
    for (char c : strText) {
        if (strKept.size() == nMax)
            break;
        if (nHexDigit(c) >= 0)
            strKept.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return strKept;
}
