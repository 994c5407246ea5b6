// Identifiers of items in the index: the object GUID (the document key of an item) and the
// version GUID (one value per content version of that item), plus random identifiers for
// documents that describe events rather than items.
//
// Object and version GUIDs are name-based (RFC 4122 version 5, SHA-1) and therefore a pure
// function of their arguments: the same path always gives the same key, on any machine and in
// any process, so that a live file, its later deletion and a partial update of it all address
// one document. The text form is the 36-character lower-case form ("8-4-4-4-12").
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Export.h"
#include "foundation/KyError.h"

// The object GUID of the item at strPath. Trailing delimiters (chDelimiter) are not part of the
// name, so "/a/b/" and "/a/b" give one key; with bIgnoreCase the path is compared without regard
// to ASCII case. Never fails for a non-empty path; an empty path is error 87 and leaves strGuid
// untouched.
IDX_EXPORT CKyError GetObjectGuid(const std::string &strPath, bool bIgnoreCase, char chDelimiter,
                                  std::string &strGuid);

// The version GUID of one version of the item at strPath: the path (normalised as for
// GetObjectGuid), the application GUID, the modification and status-change times in Unix
// seconds, the size and the caller's flags all go into the name, so a change of any of them
// gives a new value. nReserved must be 0 (no option is defined). Error 87 and strGuid untouched
// for an empty path or a non-zero nReserved.
IDX_EXPORT CKyError GetVersionGuid(const std::string &strPath, const std::string &strAppGuid,
                                   int64_t llModificationTime, int64_t llChangeTime,
                                   uint64_t ullSize, uint32_t nFlags, bool bIgnoreCase,
                                   char chDelimiter, std::string &strGuid, uint32_t nReserved);

// A new random (version 4) UUID in the same text form. Each call makes its own generator over a
// freshly seeded Mersenne twister, so calls from different threads share nothing.
IDX_EXPORT std::string GenerateRandomGuid();
