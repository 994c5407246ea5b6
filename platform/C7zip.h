// The archive component: lists the members of an archive file and unpacks them below a folder,
// for the documents that describe what an archive holds.
//
// Archives come from the walked file system and are untrusted. Unpacking therefore writes only
// regular files and folders, strictly below the given folder, with fixed permissions (no owner,
// permission bits, ACLs, extended attributes or file flags from the archive). A member whose
// path is absolute, holds a ".." component or is too long for the system, and every link,
// device, FIFO or socket member, is skipped with a log line. A cap on the number of members
// read and on the bytes unpacked stops an archive bomb: the members before the cap stay
// unpacked, the rest are skipped and the call reports why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Export.h"
#include "foundation/KyError.h"

// One member as ListFilesInArchive reports it.
//
// Its times are those the archive stores for it, so that every listing and every unpack of the
// same archive gives the same ones (they are what an unpacked copy gets, too). A time the archive
// does not store, or stores as 0, is the member's modification time; a member without a
// modification time takes the archive file's.
class C7zMetaData {
public:
    C7zMetaData() : m_llModifiedTime(0), m_llAccessTime(0), m_llChangeTime(0), m_ullSize(0) {}
    ~C7zMetaData() {}

    std::string m_strPath;    // path inside the archive, "/"-separated, without a leading "./"
    int64_t m_llModifiedTime; // seconds since 1970-01-01
    int64_t m_llAccessTime;   // likewise
    int64_t m_llChangeTime;   // likewise; the time the member's status last changed
    uint64_t m_ullSize;       // bytes of the member's content, as read
    std::string m_strHash;    // CRC-32 of the member's content, "%X"
};

class IDX_EXPORT C7zip {
public:
    // Which kinds of archive a component reads. A compressed single file (gz, bz2, xz) that does
    // not hold a tar archive is one member named after the archive without its last extension.
    enum CompressionFormat : int32_t {
        eFormatZip = 1,
        eFormat7zOrTar = 2,
        eFormatGzip = 3,  // gzip-compressed tar, or one gzip-compressed file
        eFormatBzip2 = 4, // likewise with bzip2
        eFormatXz = 5,    // likewise with xz or lzma
    };

    // Defaults of the bomb caps.
    static constexpr uint64_t kDefaultMaxTotalBytes = 1073741824ull; // 1 GiB
    static constexpr uint64_t kDefaultMaxMembers = 10000;
    // A member whose unpacked path would be this long or longer is skipped.
    static constexpr size_t kMaxUnpackedPathLength = 4000;

    // strHomeDirectory is the installation's home folder; it is kept for messages only.
    C7zip(const std::string &strHomeDirectory, CompressionFormat eFormat);
    ~C7zip();
    C7zip(const C7zip &) = delete;
    C7zip &operator=(const C7zip &) = delete;

    // Checks the format value; error 87 for a value outside 1 to 5. Must succeed before the
    // other calls, which answer error 1 otherwise.
    CKyError Initialize();

    // Caps per call: members read (files, folders and skipped ones alike) and bytes unpacked
    // (a member's content counts up to its last byte, so holes count too). 0 keeps a cap as is.
    void SetLimits(uint64_t ullMaxTotalBytes, uint64_t ullMaxMembers);
    uint64_t GetMaxTotalBytes() const { return m_ullMaxTotalBytes; }
    uint64_t GetMaxMembers() const { return m_ullMaxMembers; }

    // One record per regular-file member that passes the checks above, in archive order; each
    // member's content is read once for its hash. The records read before an error stay in
    // vecMembers. Errors: 2 or another errno error when the file cannot be opened, 13 when it
    // is not an archive of the format or is damaged, 223 when a cap is reached.
    CKyError ListFilesInArchive(const std::string &strArchive,
                                std::vector<C7zMetaData> &vecMembers);

    // Unpacks every file and folder member to strFolder joined with its path inside the archive;
    // strFolder is created when missing. Each unpacked file and folder gets the member's
    // modification and access times (see C7zMetaData); its status-change time is the time of the
    // unpack, which no program can set. Members written before an error stay on disk; a member
    // cut short by an error or a cap is removed. Errors as for ListFilesInArchive.
    CKyError ExtractFilesWithFullPathsFromArchive(const std::string &strArchive,
                                                  const std::string &strFolder);
    // The same, and one record per file written, as ListFilesInArchive gives it, in archive
    // order: the times of an unpacked file are read from there, not from the file.
    CKyError ExtractFilesWithFullPathsFromArchive(const std::string &strArchive,
                                                  const std::string &strFolder,
                                                  std::vector<C7zMetaData> &vecMembers);

    // What the last list or unpack call did.
    uint64_t GetMembersWritten() const { return m_ullMembersWritten; }
    uint64_t GetMembersSkipped() const { return m_ullMembersSkipped; }
    uint64_t GetBytesWritten() const { return m_ullBytesWritten; }
    bool IsLimitReached() const { return m_bLimitReached; }

    const std::string &GetHomeDirectory() const { return m_strHomeDirectory; }
    CompressionFormat GetFormat() const { return m_eFormat; }

private:
    CKyError ProcessArchive(const std::string &strArchive, const std::string *pFolder,
                            std::vector<C7zMetaData> *pMembers);
    CKyError LimitOfBytes(const FXCodeLocation &location, const std::string &strArchive,
                          const std::string &strMember);

    std::string m_strHomeDirectory;
    CompressionFormat m_eFormat;
    bool m_bInitialized;
    uint64_t m_ullMaxTotalBytes;
    uint64_t m_ullMaxMembers;
    uint64_t m_ullMembersWritten;
    uint64_t m_ullMembersSkipped;
    uint64_t m_ullBytesWritten;
    bool m_bLimitReached;
};
