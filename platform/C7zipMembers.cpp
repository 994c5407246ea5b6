// How the archive component reads one member: the readers each format value enables, the
// member's name and clean path, the member types it unpacks and the times it gives a member.
//
// Each format value enables only the readers it needs. In particular the mtree reader is never
// enabled: an mtree description can name files elsewhere on the disk as member content, which
// would let an archive copy any readable file into the index.
#include "platform/C7zipMembers.h"

#include <archive.h>
#include <archive_entry.h>

#include "foundation/StringHelpers.h"

namespace {

bool IsTimeStored(int nIsSet, time_t tSeconds, long lNanoseconds) {
    return nIsSet != 0 && (tSeconds != 0 || lNanoseconds != 0);
}

} // namespace

namespace c7zip {

// Enables the readers of one format value; the raw reader turns a compressed single file into
// one member, and the empty reader accepts a compressed empty file.
int EnableFormat(struct archive *pArchive, C7zip::CompressionFormat eFormat) {
    int nResult = ARCHIVE_OK;
    auto add = [&nResult](int nStep) {
        // A filter that has to run as an external program still works: only a hard failure
        // counts.
        if (nStep < ARCHIVE_WARN) {
            nResult = nStep;
        }
    };
    switch (eFormat) {
    case C7zip::eFormatZip:
        add(archive_read_support_format_zip(pArchive));
        break;
    case C7zip::eFormat7zOrTar:
        add(archive_read_support_format_7zip(pArchive));
        add(archive_read_support_format_tar(pArchive));
        break;
    case C7zip::eFormatGzip:
        add(archive_read_support_filter_gzip(pArchive));
        break;
    case C7zip::eFormatBzip2:
        add(archive_read_support_filter_bzip2(pArchive));
        break;
    case C7zip::eFormatXz:
        add(archive_read_support_filter_xz(pArchive));
        add(archive_read_support_filter_lzma(pArchive));
        break;
    }
    if (eFormat == C7zip::eFormatGzip || eFormat == C7zip::eFormatBzip2 ||
        eFormat == C7zip::eFormatXz) {
        add(archive_read_support_format_tar(pArchive));
        add(archive_read_support_format_raw(pArchive));
        add(archive_read_support_format_empty(pArchive));
    }
    return nResult;
}

bool IsCompressedSingleFileFormat(C7zip::CompressionFormat eFormat) {
    return eFormat == C7zip::eFormatGzip || eFormat == C7zip::eFormatBzip2 ||
           eFormat == C7zip::eFormatXz;
}

// The member name of a compressed single file: the archive's name without its last extension
// ("notes.txt.gz" holds "notes.txt").
std::string SingleFileMemberName(const std::string &strArchive) {
    std::string strName = FXPath::GetFileName(strArchive);
    size_t nDot = strName.rfind('.');
    if (nDot != std::string::npos) {
        strName.erase(nDot);
    }
    if (strName.empty() || strName == "." || strName == "..") {
        strName = "data";
    }
    return strName;
}

// The member's path made relative and clean: "" and "." components dropped. Returns a reason
// when the member must be skipped; an empty reason and an empty path mean the archive's root.
std::string NormalizeMemberPath(const std::string &strRaw, std::string &strClean) {
    strClean.clear();
    if (strRaw.empty()) {
        return "the member has no name";
    }
    if (strRaw[0] == '/') {
        return "the member's path is absolute";
    }
    size_t nStart = 0;
    while (nStart <= strRaw.size()) {
        size_t nEnd = strRaw.find('/', nStart);
        if (nEnd == std::string::npos) {
            nEnd = strRaw.size();
        }
        std::string strPart = strRaw.substr(nStart, nEnd - nStart);
        if (strPart == "..") {
            return "the member's path leads out of the archive's folder";
        }
        if (!strPart.empty() && strPart != ".") {
            if (!strClean.empty()) {
                strClean += '/';
            }
            strClean += strPart;
        }
        nStart = nEnd + 1;
    }
    return std::string();
}

// Why a member of this type is not unpacked; empty for a regular file or a folder.
std::string TypeSkipReason(struct archive_entry *pEntry) {
    if (archive_entry_hardlink(pEntry) != nullptr) {
        return "the member is a hard link";
    }
    switch (archive_entry_filetype(pEntry)) {
    case AE_IFREG:
    case AE_IFDIR:
        return std::string();
    case AE_IFLNK:
        return "the member is a symbolic link";
    case AE_IFIFO:
        return "the member is a FIFO";
    case AE_IFCHR:
    case AE_IFBLK:
        return "the member is a device";
    case AE_IFSOCK:
        return "the member is a socket";
    default:
        return "the member is not a regular file or folder";
    }
}

// The member's path as stored. In a locale that cannot show it (a UTF-8 name in the C locale)
// the plain form is missing and the UTF-8 form is taken.
std::string RawMemberPath(struct archive_entry *pEntry) {
    const char *szPath = archive_entry_pathname(pEntry);
    if (!szPath) {
        szPath = archive_entry_pathname_utf8(pEntry);
    }
    return szPath ? szPath : std::string();
}

// Gives the member the times C7zMetaData describes. The disk writer would otherwise give an
// unpacked copy the time of the unpack for each time the archive leaves out, and a member would
// look different on every unpack.
void SettleMemberTimes(struct archive_entry *pEntry, int64_t llArchiveModifiedTime) {
    if (!IsTimeStored(archive_entry_mtime_is_set(pEntry), archive_entry_mtime(pEntry),
                      archive_entry_mtime_nsec(pEntry))) {
        archive_entry_set_mtime(pEntry, static_cast<time_t>(llArchiveModifiedTime), 0);
    }
    const time_t tModified = archive_entry_mtime(pEntry);
    const long lModifiedNs = archive_entry_mtime_nsec(pEntry);
    if (!IsTimeStored(archive_entry_atime_is_set(pEntry), archive_entry_atime(pEntry),
                      archive_entry_atime_nsec(pEntry))) {
        archive_entry_set_atime(pEntry, tModified, lModifiedNs);
    }
    if (!IsTimeStored(archive_entry_ctime_is_set(pEntry), archive_entry_ctime(pEntry),
                      archive_entry_ctime_nsec(pEntry))) {
        archive_entry_set_ctime(pEntry, tModified, lModifiedNs);
    }
}

} // namespace c7zip
