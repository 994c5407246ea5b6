// The tests' own reading of UTF-8, written apart from the library's so that a check of what the
// library produced does not share its mistakes: one decoder, the validity test built on it, and
// the check an XML 1.0 parser makes of a document's characters before it looks at the markup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace idxtest {

// Decodes the character that starts at nPos (nPos < size): true with its code point and its
// length in bytes; false when the byte there starts no valid sequence (a continuation byte, a
// cut sequence, an overlong form, a surrogate, a value above U+10FFFF, the bytes C0, C1, F5-FF).
bool DecodeUtf8At(const std::string &strText, size_t nPos, uint32_t &nCodePoint, size_t &nLength);

// True when every byte belongs to a valid UTF-8 sequence (an empty text is valid).
bool IsValidUtf8(const std::string &strText);

// "" when the bytes are UTF-8 holding only XML 1.0 characters, else what is wrong and where.
std::string XmlTextProblem(const std::string &strText);

} // namespace idxtest
