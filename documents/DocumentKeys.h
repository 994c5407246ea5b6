// The keys and hashes of documents: the MD5 text the documents carry, the key path and content ids
// of items, and the file extensions that mark archives. Pure functions.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

namespace IdxDocuments {

// MD5 of the bytes as 32 upper-case hexadecimal digits.
std::string MakeHash(const std::string &strText);
constexpr size_t kHashDigits = 32;
// MakeHash of the parts written one after another, into achHex (no terminating zero): the
// builders hash joined texts without making them.
void MakeHashOfParts(std::initializer_list<std::string_view> parts, char achHex[kHashDigits]);
// What follows the last "." of the whole text, upper-cased; empty without a ".".
std::string GetFileExtension(const std::string &strText);
// The upper-case extensions of the files treated as archives.
const std::set<std::string> &CompressedExtensions();
// Whether an upper-case extension (as GetFileExtension gives it) is one of an archive; compared
// exactly.
bool IsCompressedItem(const std::string &strExtension);
// The path the document key is computed from: a leading "\\UNC\" or "\\" becomes "UNC-NT_".
std::string MakeKeyPath(const std::string &strPath);
// strOutput becomes the VM GUID, "!" and the hash of the path's object GUID followed by the
// application GUID.
void GetContentIdForVMFile(const std::string &strPath, bool bIgnoreCase, char chDelimiter,
                           const std::string &strAppGuid, const std::string &strVMGuid,
                           std::string &strOutput);
// The object GUID of the three name parts joined with backslashes.
void GetContentIdForSPFile(const std::string &strFirst, const std::string &strSecond,
                           const std::string &strThird, std::string &strOutput);

} // namespace IdxDocuments
