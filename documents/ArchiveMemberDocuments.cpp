// The documents of an archive file: its own document, marked compound, and one document per
// member file, built from the archive unpacked into a scratch folder of the worker (or, in the
// listing builder, from the archive's listing).
//
// A member's item has the member's path inside the archive as its path and the unpacked file as
// its fully qualified name. Its document key is therefore a function of the archive's path and
// the member's path alone, the same for every worker and every run, and no field of it carries
// the scratch folder; the content is still read from the unpacked file. Its times, and so its
// version key, are the member's own as the archive stores them (C7zMetaData), never those of the
// unpacked file: that file's status-change time is the time of the unpack, different on every
// run.
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "documents/ArchiveMemberDocuments.h"

#include "documents/FieldSyntax.h"
#include "documents/FileCrc.h"
#include "documents/ItemMetadataDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "foundation/Locks.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "platform/C7zip.h"
#include "platform/ItemLookup.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "platform/StringFormat.h"
#include "platform/TQPIBase.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kDocumentTypeMember[] = "10";
const char kSettingsSection[] = "FileSystemAgent";
// Caps of one archive's unpacking; the archive component's defaults apply when absent.
const char kSettingMaxMembers[] = "nMaxArchiveMembers";
const char kSettingMaxBytes[] = "nMaxArchiveExtractBytes";

// A folder name must stay below the system's 255-byte limit with "-" and the thread id added.
const size_t kMaxScratchNameLength = 200;

C7zip::CompressionFormat FormatOfExtension(const std::string &strUpperExtension) {
    if (strUpperExtension == "7Z" || strUpperExtension == "TAR") {
        return C7zip::eFormat7zOrTar;
    }
    if (strUpperExtension == "GZ" || strUpperExtension == "TGZ") {
        return C7zip::eFormatGzip;
    }
    if (strUpperExtension == "BZ2" || strUpperExtension == "TBZ2") {
        return C7zip::eFormatBzip2;
    }
    if (strUpperExtension == "XZ" || strUpperExtension == "TXZ") {
        return C7zip::eFormatXz;
    }
    return C7zip::eFormatZip;
}

// The archive component made and initialised for one archive, with the operator's caps.
CKyError MakeArchiveComponent(const std::string &strUpperExtension, std::string &strHome,
                              int &nFormat, boost::shared_ptr<C7zip> &ptrZip) {
    strHome = TQPI_Base().getHomeDirectory();
    const C7zip::CompressionFormat eFormat = FormatOfExtension(strUpperExtension);
    nFormat = static_cast<int>(eFormat);
    ptrZip = boost::make_shared_nothrow<C7zip>(strHome, eFormat);
    if (!ptrZip) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    CKyError error = ptrZip->Initialize();
    if (error.IsError()) {
        return error;
    }
    unsigned long ulMaxMembers = 0;
    unsigned long ulMaxBytes = 0;
    TQPlatformInfo settings;
    settings.getNumber(kSettingsSection, kSettingMaxMembers, &ulMaxMembers);
    settings.getNumber(kSettingsSection, kSettingMaxBytes, &ulMaxBytes);
    ptrZip->SetLimits(ulMaxBytes, ulMaxMembers);
    return CKyError::Success();
}

// Appends the archive's own document: its metadata, marked compound, with the CRC-32 of the
// archive file when there is one. A CRC that cannot be computed leaves the field out rather than
// empty, as for a member: an empty "set" would wipe the hash the engine holds for the archive.
void AppendArchiveDocument(CDocumentContext &context, const CItemPtr &ptrItem,
                           std::string &strDocument) {
    strDocument += "<doc>";
    std::string strArchiveDocument;
    IdxDocuments::BuildItemDataAnalytics(context, ptrItem, EFieldForm::eXml, strArchiveDocument);
    strDocument += strArchiveDocument;
    strDocument += IdxDocuments::CreateField("IsCompound", "1", EFieldForm::eXml);
    std::string strCrc;
    CKyError error = IdxDocuments::GetCRC32(context, ptrItem->GetFullyQualifiedItemName(), strCrc);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to calculate CRC, error=%s", error.AsString().c_str());
    }
    if (!strCrc.empty()) {
        strDocument += IdxDocuments::CreateField("FileContentHash", strCrc, EFieldForm::eXml);
    }
    strDocument += "</doc>";
}

// The status of a member as the archive describes it: the times of its record; the rest (size,
// type, blocks) from the unpacked file's status.
struct stat MemberStatus(const struct stat &unpacked, const C7zMetaData *pMember) {
    struct stat status = unpacked;
    if (pMember) {
        status.st_mtim.tv_sec = static_cast<time_t>(pMember->m_llModifiedTime);
        status.st_atim.tv_sec = static_cast<time_t>(pMember->m_llAccessTime);
        status.st_ctim.tv_sec = static_cast<time_t>(pMember->m_llChangeTime);
        status.st_mtim.tv_nsec = status.st_atim.tv_nsec = status.st_ctim.tv_nsec = 0;
    } else {
        // Not a file the unpack reported: still no time of the unpack in its document.
        status.st_ctim = status.st_mtim;
    }
    return status;
}

// The archive's component, made for its extension; strHome and nFormat also tell what was tried
// when it could not be made.
struct SOpenedArchive {
    std::string strUpperExtension;
    std::string strHome;
    int nFormat = 0;
    boost::shared_ptr<C7zip> ptrZip;
};

// Appends the archive's own document, then makes the component that reads its members.
CKyError OpenArchive(CDocumentContext &context, const CItemPtr &ptrItem,
                     const std::string &strExtension, std::string &strDocument,
                     SOpenedArchive &archive) {
    AppendArchiveDocument(context, ptrItem, strDocument);
    archive.strUpperExtension = FXString::ToUpper(strExtension);
    return MakeArchiveComponent(archive.strUpperExtension, archive.strHome, archive.nFormat,
                                archive.ptrZip);
}

} // namespace

namespace IdxDocuments {

CKyError BuildCompressedItem2(CDocumentContext &context, const CItemPtr &ptrItem,
                              const std::string &strExtension, std::string &strDocument) {
    const CTransmitterOptions &options = context.Options();
    const std::string &strArchivePath = ptrItem->GetPath();
    const std::string &strArchiveFile = ptrItem->GetFullyQualifiedItemName();
    // The member's path field: "FilePath" in cloud mode, "Url" otherwise.
    const char *szPathField = options.IsCloudMode() ? "FilePath" : "Url";

    SOpenedArchive archive;
    CKyError error = OpenArchive(context, ptrItem, strExtension, strDocument, archive);
    if (error.IsError()) {
        error.Push(FXLOC,
                   "Failed to initialize 7zip object, base directory=%s, compression "
                   "format=[%d], error=%s",
                   archive.strHome.c_str(), archive.nFormat, error.AsString().c_str());
        IDX_LOG_ERROR("%s: %s", error.AsString(EErrorOutputFormat(2)).c_str(),
                      error.AsString().c_str());
        return error;
    }
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
        IDX_LOG(4, "Fetching items inside compressed file=[%s], extension[%s]",
                strArchivePath.c_str(), archive.strUpperExtension.c_str());
    }

    // Without a subclient folder the scratch folder would land below the process's working
    // folder: the members are left out.
    const std::string &strSubClientDir = options.GetSubClientDir();
    if (strSubClientDir.empty()) {
        IDX_LOG(1,
                "No subclient folder to unpack compressed file=[%s] in; its members are not "
                "indexed",
                strArchivePath.c_str());
        return CKyError::Success();
    }
    // The name is the item's own word, not necessarily a plain file name: a "/" in it must not
    // lead the folder (which is emptied first and removed after) out of "Temp".
    std::string strScratchName = ptrItem->GetName();
    if (strScratchName.size() > kMaxScratchNameLength) {
        strScratchName.resize(kMaxScratchNameLength);
    }
    for (char &ch : strScratchName) {
        if (ch == '/') {
            ch = '_';
        }
    }
    strScratchName += FXFormat("-%lu", static_cast<unsigned long>(FXThread::GetCurrentThreadId()));
    std::string strScratch = strSubClientDir;
    FXPath::Append(strScratch, "Temp", 0);
    FXPath::Append(strScratch, strScratchName, 0);

    // What an earlier run left behind (a crash, a stop in the middle) must not become members.
    error = FXFile::RemoveDirectoryTree(strScratch);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to remove folder=%s, error=%s", strScratch.c_str(),
                      error.AsString().c_str());
    }
    std::vector<C7zMetaData> vecUnpacked;
    error = archive.ptrZip->ExtractFilesWithFullPathsFromArchive(strArchiveFile, strScratch,
                                                                 vecUnpacked);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to fetch list of items inside the compressed file=[%s], error=%s",
                      strArchivePath.c_str(), error.AsString().c_str());
    }
    // By path below the scratch folder; a path the archive holds twice is the later member.
    std::map<std::string, const C7zMetaData *> mapUnpacked;
    for (const C7zMetaData &member : vecUnpacked) {
        mapUnpacked[member.m_strPath] = &member;
    }

    // Depth first: folders found later are visited first.
    std::vector<std::string> vecFolders(1, strScratch);
    CKyError walkResult;
    CKyError memberResult;
    while (!vecFolders.empty() && !memberResult.IsError()) {
        const std::string strFolder = vecFolders.back();
        vecFolders.pop_back();
        auto_find_handle find;
        FXFile::CFileData entry;
        walkResult = FXFile::TQFindFirstFile(find, strFolder, entry);
        while (!walkResult.IsError()) {
            if (!entry.isRelativeFolder()) {
                std::string strEntryPath = strFolder;
                FXPath::Append(strEntryPath, entry.getFileNameAsString(), 0);
                entry.getFileInfo();
                const bool bStatusRead = entry.getStatusState() == 1;
                if (entry.isDirectory()) {
                    vecFolders.push_back(strEntryPath);
                } else if (bStatusRead && S_ISREG(entry.getStatus().st_mode)) {
                    // Only regular files are members: unpacking writes nothing else, and
                    // anything else found here was not put there by it.
                    std::string strMemberPath = strEntryPath;
                    FXString::ReplaceLeftNoCase(strMemberPath, strScratch, strArchiveFile);
                    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
                        IDX_LOG(4, "Compressed file[%s] contains file[%s] ", strArchivePath.c_str(),
                                strMemberPath.c_str());
                    }
                    const auto itUnpacked =
                        mapUnpacked.find(strEntryPath.substr(strScratch.size() + 1));
                    const struct stat status = MemberStatus(
                        entry.getStatus(),
                        itUnpacked == mapUnpacked.end() ? nullptr : itUnpacked->second);
                    const FXFile::CFileData memberData(strEntryPath,
                                                       FXFile::CFileData::eParentAndName, &status);
                    CItemPtr ptrMember = boost::make_shared_nothrow<CFindFirstItem>(
                        CBagPtr(), strMemberPath, strEntryPath, memberData);
                    CAnalyticsItemUnix *pAnalytics =
                        ptrMember ? new (std::nothrow) CAnalyticsItemUnix(ptrMember) : nullptr;
                    if (!pAnalytics) {
                        memberResult = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
                        break;
                    }
                    ptrMember->AddInterface(EItemInterfaceId::eAnalytics, pAnalytics);

                    std::string strMemberDocument;
                    BuildItemDataAnalytics(context, ptrMember, EFieldForm::eXml, strMemberDocument);
                    ChangeFieldValue(strMemberDocument, szPathField, strMemberPath,
                                     EFieldForm::eXml);
                    ChangeFieldValue(strMemberDocument, "FolderName", strArchivePath,
                                     EFieldForm::eXml);
                    ChangeFieldValue(strMemberDocument, "DocumentType", kDocumentTypeMember,
                                     EFieldForm::eXml);
                    strDocument += "<doc>";
                    strDocument += strMemberDocument;
                    std::string strMemberCrc;
                    CKyError crcError = GetCRC32(context, strEntryPath, strMemberCrc);
                    if (crcError.IsError()) {
                        IDX_LOG_ERROR("Failed to calculate CRC, error=%s",
                                      crcError.AsString().c_str());
                    }
                    if (!strMemberCrc.empty()) {
                        strDocument +=
                            CreateField("FileContentHash", strMemberCrc, EFieldForm::eXml);
                    }
                    strDocument += "</doc>";
                }
            }
            walkResult = FXFile::TQFindNextFile(find, entry);
        }
    }

    // Removed on every path, also after a failed member: the next run would otherwise find it.
    error = FXFile::RemoveDirectoryTree(strScratch);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to remove folder=%s, error=%s", strScratch.c_str(),
                      error.AsString().c_str());
    }
    if (memberResult.IsError()) {
        return memberResult;
    }
    if (!FXErrorUtil::IsWin32(walkResult, EIdxError::eNoMoreFiles)) {
        return walkResult.Push(FXLOC);
    }
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
        IDX_LOG(4, "Finished listing contents of compressed file[%s]", strArchivePath.c_str());
    }
    return CKyError::Success();
}

CKyError BuildCompressedItem(CDocumentContext &context, const CItemPtr &ptrItem,
                             const std::string &strExtension, std::string &strDocument) {
    const std::string &strArchivePath = ptrItem->GetPath();
    const std::string &strArchiveFile = ptrItem->GetFullyQualifiedItemName();

    SOpenedArchive archive;
    CKyError error = OpenArchive(context, ptrItem, strExtension, strDocument, archive);
    if (error.IsError()) {
        error.Push(FXLOC,
                   "Failed to initalize 7zip object, base directory=[%s], compression "
                   "format=[%d]",
                   archive.strHome.c_str(), archive.nFormat);
        IDX_LOG_ERROR("%s: %s", error.AsString(EErrorOutputFormat(2)).c_str(),
                      error.AsString().c_str());
        return error;
    }

    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
        IDX_LOG(4, "Fetching items inside compressed file=[%s], extension=[%s]",
                strArchivePath.c_str(), archive.strUpperExtension.c_str());
    }
    std::vector<C7zMetaData> vecMembers;
    error = archive.ptrZip->ListFilesInArchive(strArchiveFile, vecMembers);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to fetch list of items inside the compressed file=[%s], error=%s",
                      strArchivePath.c_str(), error.AsString().c_str());
    }

    for (const C7zMetaData &member : vecMembers) {
        std::string strMemberPath = strArchiveFile;
        FXPath::Append(strMemberPath, member.m_strPath, 0);
        if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
            IDX_LOG(4, "Compressed file [%s] contains file [%s], modified time [%lld]",
                    strArchivePath.c_str(), member.m_strPath.c_str(),
                    static_cast<long long>(member.m_llModifiedTime));
        }
        struct stat status;
        memset(&status, 0, sizeof(status));
        status.st_mode = S_IFREG;
        status.st_size = static_cast<off_t>(member.m_ullSize);
        status.st_atim.tv_sec = member.m_llAccessTime;
        status.st_mtim.tv_sec = member.m_llModifiedTime;
        status.st_ctim.tv_sec = member.m_llChangeTime;
        FXFile::CFileData memberData(strMemberPath, FXFile::CFileData::eParentAndName, &status);
        CItemPtr ptrMember = boost::make_shared_nothrow<CFindFirstItem>(CBagPtr(), strMemberPath,
                                                                        strMemberPath, memberData);
        if (!ptrMember) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        CAnalyticsItemUnix *pAnalytics = new (std::nothrow) CAnalyticsItemUnix(ptrMember);
        if (!pAnalytics) {
            return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
        }
        ptrMember->AddInterface(EItemInterfaceId::eAnalytics, pAnalytics);

        std::string strMemberDocument;
        BuildItemDataAnalytics(context, ptrMember, EFieldForm::eXml, strMemberDocument);
        ChangeFieldValue(strMemberDocument, "FolderName", strArchivePath, EFieldForm::eXml);
        ChangeFieldValue(strMemberDocument, "DocumentType", kDocumentTypeMember, EFieldForm::eXml);
        strDocument += "<doc>";
        strDocument += strMemberDocument;
        strDocument += CreateField("FileContentHash", member.m_strHash, EFieldForm::eXml);
        strDocument += "</doc>";
    }

    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
        IDX_LOG(4, "Finished listing contents of compressed file [%s]", strArchivePath.c_str());
    }
    return CKyError::Success();
}

} // namespace IdxDocuments
