// How the archive component reads one member, shared by the units of C7zip: the readers of a
// format value, the member's name and path, the member types it unpacks and the times it gives a
// member. Internal to the platform library.
#pragma once

#include <cstdint>
#include <string>

#include "platform/C7zip.h"

struct archive;
struct archive_entry;

namespace c7zip {

// Enables the readers of eFormat on pArchive; the worst libarchive result of the steps.
int EnableFormat(struct archive *pArchive, C7zip::CompressionFormat eFormat);
// True for the format values of one compressed file (gzip, bzip2, xz).
bool IsCompressedSingleFileFormat(C7zip::CompressionFormat eFormat);
// The member name of a compressed single file.
std::string SingleFileMemberName(const std::string &strArchive);
// strRaw made relative and clean into strClean; a reason when the member must be skipped.
std::string NormalizeMemberPath(const std::string &strRaw, std::string &strClean);
// Why a member of this type is not unpacked; empty for a regular file or a folder.
std::string TypeSkipReason(struct archive_entry *pEntry);
// The member's path as stored.
std::string RawMemberPath(struct archive_entry *pEntry);
// Gives the member the times the archive leaves out.
void SettleMemberTimes(struct archive_entry *pEntry, int64_t llArchiveModifiedTime);

} // namespace c7zip
