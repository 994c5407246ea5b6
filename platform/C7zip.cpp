// The archive component over libarchive: its set-up and limits, and the walk over an archive's
// members that lists them, unpacks them or both. How one member is read (the readers of a
// format value, the member's path, type and times) is in C7zipMembers.cpp.
#include "platform/C7zip.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Crc32.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"

#include "platform/C7zipMembers.h"

namespace {

// Windows-style numbers of the errors made here.
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorFileTooLarge = 223;

constexpr size_t kReadBlockSize = 65536;

// Owners of the two libarchive handles.
class ArchiveReadHandle {
public:
    ArchiveReadHandle() : m_pArchive(archive_read_new()) {}
    ~ArchiveReadHandle() {
        if (m_pArchive) {
            archive_read_free(m_pArchive);
        }
    }
    ArchiveReadHandle(const ArchiveReadHandle &) = delete;
    ArchiveReadHandle &operator=(const ArchiveReadHandle &) = delete;
    struct archive *get() const {
        return m_pArchive;
    }

private:
    struct archive *m_pArchive;
};

class ArchiveDiskHandle {
public:
    ArchiveDiskHandle() : m_pArchive(archive_write_disk_new()) {}
    ~ArchiveDiskHandle() {
        if (m_pArchive) {
            archive_write_free(m_pArchive);
        }
    }
    ArchiveDiskHandle(const ArchiveDiskHandle &) = delete;
    ArchiveDiskHandle &operator=(const ArchiveDiskHandle &) = delete;
    struct archive *get() const {
        return m_pArchive;
    }

private:
    struct archive *m_pArchive;
};

const char *ArchiveErrorText(struct archive *pArchive) {
    const char *szText = archive_error_string(pArchive);
    return szText ? szText : "unknown archive error";
}

// An error for a failure reported by libarchive. Its errno is mostly a stand-in for "bad data"
// (EINVAL for an unknown format), so the number says invalid data and the text says the rest.
CKyError ArchiveError(const FXCodeLocation &location, struct archive *pArchive, const char *szWhat,
                      const std::string &strArchive) {
    return FXErrorUtil::ErrorWin32(location, kErrorInvalidData, "%s [%s]: %s", szWhat,
                                   strArchive.c_str(), ArchiveErrorText(pArchive));
}

} // namespace

using c7zip::EnableFormat;
using c7zip::IsCompressedSingleFileFormat;
using c7zip::NormalizeMemberPath;
using c7zip::RawMemberPath;
using c7zip::SettleMemberTimes;
using c7zip::SingleFileMemberName;
using c7zip::TypeSkipReason;

C7zip::C7zip(const std::string &strHomeDirectory, CompressionFormat eFormat)
    : m_strHomeDirectory(strHomeDirectory), m_eFormat(eFormat), m_bInitialized(false),
      m_ullMaxTotalBytes(kDefaultMaxTotalBytes), m_ullMaxMembers(kDefaultMaxMembers),
      m_ullMembersWritten(0), m_ullMembersSkipped(0), m_ullBytesWritten(0), m_bLimitReached(false) {
}

C7zip::~C7zip() {}

CKyError C7zip::Initialize() {
    if (m_eFormat < eFormatZip || m_eFormat > eFormatXz) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidParameter,
                                       "Unknown archive format value %d",
                                       static_cast<int>(m_eFormat));
    }
    m_bInitialized = true;
    return CKyError::Success();
}

void C7zip::SetLimits(uint64_t ullMaxTotalBytes, uint64_t ullMaxMembers) {
    if (ullMaxTotalBytes != 0) {
        m_ullMaxTotalBytes = ullMaxTotalBytes;
    }
    if (ullMaxMembers != 0) {
        m_ullMaxMembers = ullMaxMembers;
    }
}

CKyError C7zip::ListFilesInArchive(const std::string &strArchive,
                                   std::vector<C7zMetaData> &vecMembers) {
    return ProcessArchive(strArchive, nullptr, &vecMembers);
}

CKyError C7zip::ExtractFilesWithFullPathsFromArchive(const std::string &strArchive,
                                                     const std::string &strFolder) {
    return ProcessArchive(strArchive, &strFolder, nullptr);
}

CKyError C7zip::ExtractFilesWithFullPathsFromArchive(const std::string &strArchive,
                                                     const std::string &strFolder,
                                                     std::vector<C7zMetaData> &vecMembers) {
    return ProcessArchive(strArchive, &strFolder, &vecMembers);
}

CKyError C7zip::LimitOfBytes(const FXCodeLocation &location, const std::string &strArchive,
                             const std::string &strMember) {
    m_bLimitReached = true;
    CKyError error = FXErrorUtil::ErrorWin32(
        location, kErrorFileTooLarge,
        "Archive [%s] holds more than %llu bytes; member [%s] and the members after it are "
        "skipped",
        strArchive.c_str(), static_cast<unsigned long long>(m_ullMaxTotalBytes), strMember.c_str());
    IDX_LOG_ERROR("%s", error.AsString().c_str());
    return error;
}

CKyError C7zip::ProcessArchive(const std::string &strArchive, const std::string *pFolder,
                               std::vector<C7zMetaData> *pMembers) {
    m_ullMembersWritten = 0;
    m_ullMembersSkipped = 0;
    m_ullBytesWritten = 0;
    m_bLimitReached = false;
    if (!m_bInitialized) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidFunction,
                                       "The archive component is not initialized");
    }

    // Opened without waiting and checked to be a regular file: a FIFO or a device under an
    // archive's name would block or read without end. The descriptor outlives the reader.
    auto_handle archiveFile;
    archiveFile.reset(open(strArchive.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (archiveFile.get() < 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to open archive [%s]",
                                       strArchive.c_str());
    }
    struct stat archiveStatus;
    if (fstat(archiveFile.get(), &archiveStatus) != 0) {
        return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to read the status of archive [%s]",
                                       strArchive.c_str());
    }
    if (!S_ISREG(archiveStatus.st_mode)) {
        return FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidData,
                                       "Archive [%s] is not a regular file", strArchive.c_str());
    }
    const int64_t llArchiveModifiedTime = archiveStatus.st_mtime;

    ArchiveDiskHandle disk;
    std::string strBase; // the unpack folder, symbolic links resolved
    if (pFolder) {
        CKyError error = FXFile::CreateDirectory(*pFolder, true);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
        // libarchive refuses to unpack through a symbolic link anywhere in the target path, so
        // a link above the folder (a temporary folder that is itself a link) is resolved here.
        char *szResolved = realpath(pFolder->c_str(), nullptr);
        if (!szResolved) {
            return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to resolve folder [%s]",
                                           pFolder->c_str());
        }
        strBase = szResolved;
        free(szResolved);
        if (!disk.get()) {
            return FXErrorUtil::ErrorWin32(FXLOC, 14, "Not enough memory to unpack [%s]",
                                           strArchive.c_str());
        }
        // No owner, permission, ACL, extended-attribute or file-flag restore: only the content,
        // the folders and the times come from the archive. The path checks of libarchive back
        // up the ones made here; its absolute-path refusal cannot be used because the target
        // path, the folder joined with the member's path, is absolute by construction.
        archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_TIME |
                                                       ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                       ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    }

    ArchiveReadHandle reader;
    if (!reader.get()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 14, "Not enough memory to read [%s]",
                                       strArchive.c_str());
    }
    if (EnableFormat(reader.get(), m_eFormat) < ARCHIVE_WARN) {
        return ArchiveError(FXLOC, reader.get(), "Failed to set up the reader of archive",
                            strArchive);
    }
    if (archive_read_open_fd(reader.get(), archiveFile.get(), kReadBlockSize) != ARCHIVE_OK) {
        return ArchiveError(FXLOC, reader.get(), "Failed to open archive", strArchive);
    }

    CKyError result;
    uint64_t ullMembersRead = 0;
    std::vector<char> vecZeros(pMembers ? kReadBlockSize : 0, '\0');
    for (;;) {
        struct archive_entry *pEntry = nullptr;
        int nHeader = archive_read_next_header(reader.get(), &pEntry);
        if (nHeader == ARCHIVE_EOF) {
            break;
        }
        if (nHeader < ARCHIVE_WARN || !pEntry) {
            result = ArchiveError(FXLOC, reader.get(), "Failed to read archive", strArchive);
            break;
        }
        if (ullMembersRead == 0 && IsCompressedSingleFileFormat(m_eFormat) &&
            archive_filter_count(reader.get()) < 2) {
            // Only the "none" filter: the file is not compressed the way its name says.
            result = FXErrorUtil::ErrorWin32(FXLOC, kErrorInvalidData,
                                             "Archive [%s] is not a compressed file of the "
                                             "expected kind",
                                             strArchive.c_str());
            break;
        }
        if (++ullMembersRead > m_ullMaxMembers) {
            m_bLimitReached = true;
            result = FXErrorUtil::ErrorWin32(
                FXLOC, kErrorFileTooLarge,
                "Archive [%s] holds more than %llu members; the remaining members are skipped",
                strArchive.c_str(), static_cast<unsigned long long>(m_ullMaxMembers));
            IDX_LOG_ERROR("%s", result.AsString().c_str());
            break;
        }

        const bool bSingleFile = archive_format(reader.get()) == ARCHIVE_FORMAT_RAW;
        std::string strRawPath =
            bSingleFile ? SingleFileMemberName(strArchive) : RawMemberPath(pEntry);
        if (bSingleFile) {
            archive_entry_set_filetype(pEntry, AE_IFREG);
            archive_entry_set_mtime(pEntry, llArchiveModifiedTime, 0);
        }
        SettleMemberTimes(pEntry, llArchiveModifiedTime);
        std::string strPath;
        std::string strReason = NormalizeMemberPath(strRawPath, strPath);
        if (strReason.empty()) {
            strReason = TypeSkipReason(pEntry);
        }
        const bool bFolder = archive_entry_filetype(pEntry) == AE_IFDIR;
        if (strReason.empty() && strPath.empty()) {
            // The archive's own root ("./"): the folder exists already.
            continue;
        }
        std::string strTarget;
        if (strReason.empty() && pFolder) {
            strTarget = strBase + "/" + strPath;
            if (strTarget.size() >= kMaxUnpackedPathLength) {
                strReason = "the member's path is too long";
            }
        }
        if (!strReason.empty()) {
            ++m_ullMembersSkipped;
            IDX_LOG_ERROR("Skipping member [%s] of archive [%s]: %s", strRawPath.c_str(),
                          strArchive.c_str(), strReason.c_str());
            continue;
        }
        if (bFolder && !pFolder) {
            continue; // a listing names files only
        }

        // A declared size counts against the byte cap before anything is written: unpacking
        // extends a file to its declared size even when the archive holds no data for it.
        uint64_t ullDeclared = 0;
        if (!bFolder && archive_entry_size_is_set(pEntry) && archive_entry_size(pEntry) > 0) {
            ullDeclared = static_cast<uint64_t>(archive_entry_size(pEntry));
        }
        if (ullDeclared > m_ullMaxTotalBytes - m_ullBytesWritten) {
            result = LimitOfBytes(FXLOC, strArchive, strPath);
            ++m_ullMembersSkipped;
            break;
        }

        if (pFolder) {
            archive_entry_set_pathname(pEntry, strTarget.c_str());
            archive_entry_set_perm(pEntry, bFolder ? 0755 : 0644);
            archive_entry_acl_clear(pEntry);
            archive_entry_xattr_clear(pEntry);
            archive_entry_set_fflags(pEntry, 0, 0);
            if (archive_write_header(disk.get(), pEntry) < ARCHIVE_WARN) {
                ++m_ullMembersSkipped;
                IDX_LOG_ERROR("Skipping member [%s] of archive [%s]: %s", strRawPath.c_str(),
                              strArchive.c_str(), ArchiveErrorText(disk.get()));
                continue;
            }
            if (bFolder) {
                archive_write_finish_entry(disk.get());
                continue;
            }
        }

        // Copy or hash the content, counting it against the byte cap up to its last byte.
        CKyCRC32 crc;
        uint64_t ullHashed = 0; // bytes fed to the hash; holes of a sparse member are zeros
        auto hashZerosUpTo = [&crc, &ullHashed, &vecZeros](uint64_t ullUpTo) {
            while (ullHashed < ullUpTo) {
                uint64_t ullStep = ullUpTo - ullHashed;
                if (ullStep > vecZeros.size()) {
                    ullStep = vecZeros.size();
                }
                crc.UpdateCRC32(vecZeros.data(), static_cast<unsigned int>(ullStep));
                ullHashed += ullStep;
            }
        };
        uint64_t ullEnd = 0;
        bool bMemberFailed = false;
        bool bFatal = false;
        for (;;) {
            const void *pBlock = nullptr;
            size_t nLength = 0;
            la_int64_t llOffset = 0;
            int nRead = archive_read_data_block(reader.get(), &pBlock, &nLength, &llOffset);
            if (nRead == ARCHIVE_EOF) {
                break;
            }
            if (nRead < ARCHIVE_WARN) {
                bMemberFailed = true;
                bFatal = nRead == ARCHIVE_FATAL;
                IDX_LOG_ERROR("Failed to read member [%s] of archive [%s]: %s", strPath.c_str(),
                              strArchive.c_str(), ArchiveErrorText(reader.get()));
                if (bFatal) {
                    result =
                        ArchiveError(FXLOC, reader.get(), "Failed to read archive", strArchive);
                }
                break;
            }
            const uint64_t ullOffset = llOffset < 0 ? 0 : static_cast<uint64_t>(llOffset);
            const uint64_t ullBlockEnd = ullOffset + nLength;
            if (ullBlockEnd > ullEnd) {
                if (ullBlockEnd > m_ullMaxTotalBytes - m_ullBytesWritten) {
                    bMemberFailed = true;
                    bFatal = true;
                    result = LimitOfBytes(FXLOC, strArchive, strPath);
                    break;
                }
                ullEnd = ullBlockEnd;
            }
            if (pFolder &&
                archive_write_data_block(disk.get(), pBlock, nLength, llOffset) < ARCHIVE_WARN) {
                bMemberFailed = true;
                IDX_LOG_ERROR("Failed to write member [%s] of archive [%s]: %s", strPath.c_str(),
                              strArchive.c_str(), ArchiveErrorText(disk.get()));
                break;
            }
            if (pMembers && nLength > 0 && ullOffset >= ullHashed) {
                hashZerosUpTo(ullOffset);
                // A block is at most the reader's block size, far below 4 GiB.
                crc.UpdateCRC32(static_cast<const char *>(pBlock),
                                static_cast<unsigned int>(nLength));
                ullHashed += nLength;
            }
        }
        if (!bMemberFailed && ullDeclared > ullEnd) {
            ullEnd = ullDeclared; // a trailing hole
        }
        if (pMembers && !bMemberFailed) {
            hashZerosUpTo(ullEnd);
        }
        if (pFolder) {
            archive_write_finish_entry(disk.get());
            if (bMemberFailed) {
                unlink(strTarget.c_str());
            }
        }
        if (bMemberFailed) {
            ++m_ullMembersSkipped;
            if (bFatal) {
                break;
            }
            continue;
        }
        m_ullBytesWritten += ullEnd;
        ++m_ullMembersWritten;
        if (pMembers) {
            C7zMetaData member;
            member.m_strPath = strPath;
            member.m_llModifiedTime = archive_entry_mtime(pEntry);
            member.m_llAccessTime = archive_entry_atime(pEntry);
            member.m_llChangeTime = archive_entry_ctime(pEntry);
            member.m_ullSize = ullEnd;
            member.m_strHash = FXFormat("%X", crc.GetCRC32());
            pMembers->push_back(member);
        }
    }

    if (pFolder && archive_write_close(disk.get()) < ARCHIVE_WARN) {
        IDX_LOG_ERROR("Failed to finish unpacking archive [%s]: %s", strArchive.c_str(),
                      ArchiveErrorText(disk.get()));
    }
    archive_read_close(reader.get());
    return result;
}
