// Test control: writes archive files with chosen members, hostile ones included (paths with
// "..", absolute paths, links, devices, huge or sparse content), so that tests of the archive
// component and of the archive documents can make their inputs. Never used by the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Export.h"

namespace idxtest {

enum class TestArchiveKind {
    Zip,
    Tar,
    TarGz,
    TarBz2,
    TarXz,
    SevenZip,
    Gz, // one gzip-compressed file: the first member's content, no archive inside
};

struct TestArchiveMember {
    enum Type { File, Folder, Symlink, Hardlink, Fifo, CharDevice };

    std::string strPath; // written as given, unchecked
    Type eType = File;
    std::string strContent;
    // When not 0, the content is this many bytes of 'x' instead (streamed, not held in memory).
    uint64_t ullFillBytes = 0;
    std::string strLinkTarget; // for Symlink and Hardlink
    int64_t llModifiedTime = 1600000000;
    // Stored only when not 0 (zip, 7z and tar hold them; a tar archive with a member that has one
    // is written in the full pax form, which keeps them).
    int64_t llAccessTime = 0;
    int64_t llChangeTime = 0;
    int nPermissions = 0644;
};

// Writes the archive at strPath; an empty text on success, else what failed.
IDX_EXPORT std::string WriteTestArchive(const std::string &strPath, TestArchiveKind eKind,
                                        const std::vector<TestArchiveMember> &vecMembers);

} // namespace idxtest
