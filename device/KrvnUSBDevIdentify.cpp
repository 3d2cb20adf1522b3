#include "device/KrvnUSBDevIdentify.h"
#include "device/TextUtil.h"

#include <cctype>

namespace {

void vAppendByte(std::string& strText, uint8_t ucByte)
{
    if (ucByte != 0)
        strText += static_cast<char>(ucByte);
}

}  // namespace

std::string strAtaIdentifyText(const uint8_t* pIdentify, size_t nFirstWord, size_t nWords)
{
    std::string strText;
    for (size_t w = nFirstWord; w < nFirstWord + nWords; ++w) {
        vAppendByte(strText, pIdentify[2 * w + 1]);
        vAppendByte(strText, pIdentify[2 * w]);
    }
    return strTrim(strText);
}

std::string strNvmeIdentifyText(const uint8_t* pIdentify, size_t nOffset, size_t nLength)
{
    std::string strText;
    for (size_t i = nOffset; i < nOffset + nLength; ++i)
        vAppendByte(strText, pIdentify[i]);
    return strTrim(strText);
}
