// Tests of generated identifiers: whether a text has an expected shape.
#pragma once

#include <string>

namespace idxtest {

// True when the text has the shape: "x" a lower-case hexadecimal digit, "d" a decimal digit, "v"
// one of "89ab" (the RFC 4122 variant), anything else itself.
inline bool MatchesShape(const std::string &strText, const std::string &strShape) {
    if (strText.size() != strShape.size()) {
        return false;
    }
    for (size_t i = 0; i < strText.size(); ++i) {
        const char ch = strText[i];
        switch (strShape[i]) {
        case 'x':
            if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) {
                return false;
            }
            break;
        case 'd':
            if (!(ch >= '0' && ch <= '9')) {
                return false;
            }
            break;
        case 'v':
            if (std::string("89ab").find(ch) == std::string::npos) {
                return false;
            }
            break;
        default:
            if (ch != strShape[i]) {
                return false;
            }
        }
    }
    return true;
}

} // namespace idxtest
