// Test control: archive files made with libarchive's writer.
#include "platform/testing/ArchiveWriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace idxtest {

namespace {

// The restricted pax form leaves access and status-change times out.
int SetTarFormat(struct archive *pArchive, bool bWithTimes) {
    return bWithTimes ? archive_write_set_format_pax(pArchive)
                      : archive_write_set_format_pax_restricted(pArchive);
}

int SetKind(struct archive *pArchive, TestArchiveKind eKind, bool bWithTimes) {
    switch (eKind) {
    case TestArchiveKind::Zip:
        return archive_write_set_format_zip(pArchive);
    case TestArchiveKind::Tar:
        return SetTarFormat(pArchive, bWithTimes);
    case TestArchiveKind::TarGz:
        archive_write_add_filter_gzip(pArchive);
        return SetTarFormat(pArchive, bWithTimes);
    case TestArchiveKind::TarBz2:
        archive_write_add_filter_bzip2(pArchive);
        return SetTarFormat(pArchive, bWithTimes);
    case TestArchiveKind::TarXz:
        archive_write_add_filter_xz(pArchive);
        return SetTarFormat(pArchive, bWithTimes);
    case TestArchiveKind::SevenZip:
        return archive_write_set_format_7zip(pArchive);
    case TestArchiveKind::Gz:
        archive_write_add_filter_gzip(pArchive);
        return archive_write_set_format_raw(pArchive);
    }
    return ARCHIVE_FATAL;
}

std::string Failure(struct archive *pArchive, const std::string &strWhat) {
    const char *szText = archive_error_string(pArchive);
    return strWhat + ": " + (szText ? szText : "unknown error");
}

} // namespace

std::string WriteTestArchive(const std::string &strPath, TestArchiveKind eKind,
                             const std::vector<TestArchiveMember> &vecMembers) {
    struct archive *pArchive = archive_write_new();
    if (!pArchive) {
        return "archive_write_new failed";
    }
    bool bWithTimes = false;
    for (const TestArchiveMember &member : vecMembers) {
        bWithTimes = bWithTimes || member.llAccessTime != 0 || member.llChangeTime != 0;
    }
    std::string strError;
    if (SetKind(pArchive, eKind, bWithTimes) < ARCHIVE_WARN) {
        strError = Failure(pArchive, "format");
    } else if (archive_write_open_filename(pArchive, strPath.c_str()) != ARCHIVE_OK) {
        strError = Failure(pArchive, "open");
    }
    const std::string strFill(65536, 'x');
    for (size_t i = 0; strError.empty() && i < vecMembers.size(); ++i) {
        const TestArchiveMember &member = vecMembers[i];
        struct archive_entry *pEntry = archive_entry_new();
        archive_entry_set_pathname(pEntry, member.strPath.c_str());
        archive_entry_set_mtime(pEntry, member.llModifiedTime, 0);
        if (member.llAccessTime != 0) {
            archive_entry_set_atime(pEntry, member.llAccessTime, 0);
        }
        if (member.llChangeTime != 0) {
            archive_entry_set_ctime(pEntry, member.llChangeTime, 0);
        }
        archive_entry_set_perm(pEntry, member.nPermissions);
        uint64_t ullSize = member.ullFillBytes ? member.ullFillBytes : member.strContent.size();
        switch (member.eType) {
        case TestArchiveMember::File:
            archive_entry_set_filetype(pEntry, AE_IFREG);
            archive_entry_set_size(pEntry, static_cast<int64_t>(ullSize));
            break;
        case TestArchiveMember::Folder:
            archive_entry_set_filetype(pEntry, AE_IFDIR);
            ullSize = 0;
            break;
        case TestArchiveMember::Symlink:
            archive_entry_set_filetype(pEntry, AE_IFLNK);
            archive_entry_set_symlink(pEntry, member.strLinkTarget.c_str());
            ullSize = 0;
            break;
        case TestArchiveMember::Hardlink:
            archive_entry_set_filetype(pEntry, AE_IFREG);
            archive_entry_set_hardlink(pEntry, member.strLinkTarget.c_str());
            archive_entry_set_size(pEntry, 0);
            ullSize = 0;
            break;
        case TestArchiveMember::Fifo:
            archive_entry_set_filetype(pEntry, AE_IFIFO);
            ullSize = 0;
            break;
        case TestArchiveMember::CharDevice:
            archive_entry_set_filetype(pEntry, AE_IFCHR);
            archive_entry_set_rdev(pEntry, makedev(1, 5));
            ullSize = 0;
            break;
        }
        if (archive_write_header(pArchive, pEntry) < ARCHIVE_WARN) {
            strError = Failure(pArchive, "header of " + member.strPath);
        } else if (member.ullFillBytes) {
            for (uint64_t ullLeft = member.ullFillBytes; ullLeft > 0 && strError.empty();) {
                size_t nStep =
                    ullLeft < strFill.size() ? static_cast<size_t>(ullLeft) : strFill.size();
                if (archive_write_data(pArchive, strFill.data(), nStep) < 0) {
                    strError = Failure(pArchive, "data of " + member.strPath);
                }
                ullLeft -= nStep;
            }
        } else if (ullSize > 0 &&
                   archive_write_data(pArchive, member.strContent.data(), ullSize) < 0) {
            strError = Failure(pArchive, "data of " + member.strPath);
        }
        archive_entry_free(pEntry);
    }
    if (archive_write_close(pArchive) != ARCHIVE_OK && strError.empty()) {
        strError = Failure(pArchive, "close");
    }
    archive_write_free(pArchive);
    return strError;
}

} // namespace idxtest
