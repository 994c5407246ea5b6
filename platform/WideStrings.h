// Conversion between UTF-8 byte strings and wide strings (one wchar_t per code point).
//
// Text from outside (file names, archive members, answers) is not always valid UTF-8, so the
// conversion to wide is total: every byte that does not start a valid UTF-8 sequence (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate, a value above U+10FFFF)
// becomes U+FFFD and decoding goes on with the next byte. The way back writes every code point
// up to U+10FFFF as UTF-8, except surrogates and larger values, which become U+FFFD too; a
// string that went through both directions is therefore always valid UTF-8.
#pragma once

#include <string>

#include "foundation/Export.h"

class IDX_EXPORT FXWideString {
public:
    static constexpr wchar_t kReplacementCharacter = 0xFFFD;

    static std::wstring ToWstring(const std::string &strText);
    static std::string ToString(const std::wstring &wstrText);
    // True when every byte belongs to a valid UTF-8 sequence (an empty text is valid).
    static bool IsValidUtf8(const std::string &strText);
};
