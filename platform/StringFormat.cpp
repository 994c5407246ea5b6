#include "platform/StringFormat.h"

#include <cstdio>
#include <vector>

std::string FXFormatV(const char *szFormat, va_list args) {
    if (!szFormat) {
        return std::string();
    }
    char szSmall[512];
    va_list copy;
    va_copy(copy, args);
    int nLength = vsnprintf(szSmall, sizeof(szSmall), szFormat, copy);
    va_end(copy);
    if (nLength < 0) {
        return std::string();
    }
    if (static_cast<size_t>(nLength) < sizeof(szSmall)) {
        return std::string(szSmall, static_cast<size_t>(nLength));
    }
    std::vector<char> vecBuffer(static_cast<size_t>(nLength) + 1);
    vsnprintf(vecBuffer.data(), vecBuffer.size(), szFormat, args);
    return std::string(vecBuffer.data(), static_cast<size_t>(nLength));
}

std::string FXFormat(const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    std::string strText = FXFormatV(szFormat, args);
    va_end(args);
    return strText;
}
