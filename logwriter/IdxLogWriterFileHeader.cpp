// The file header, the file identifiers and the metadata message of one item, members of
// CIdxLogWriterThread: what the index server is told about each item, and in which order.
//
// Per item the metadata message (with the four identifiers, the view and the catalogue's
// backup-set GUID) goes first and the header only after it was accepted. The header's sequence
// number counts the headers the connection accepted before, so a refused one does not use its
// number up.
#include <cstring>

#include <boost/make_shared.hpp>

#include "foundation/ErrorCodes.h"
#include "foundation/MakeSharedNothrow.h"
#include "foundation/StringHelpers.h"
#include "logwriter/IdxLogWriterThread.h"
#include "platform/Clock.h"
#include "platform/FileNameHash.h"
#include "platform/LogWriter.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

// Header values.
const uint32_t kHeaderType = 3;
const uint32_t kHeaderFlags = 0x50C0;
const uint64_t kModeFolder = 0x4000;
const uint64_t kModeFile = 0x8000;
const uint32_t kPathDelimiter = '/';
const uint32_t kValidFields = 0xC0000000u;
const uint64_t kFlagHidden = 0x8000000000ull;
const uint64_t kFlagDriveRoot = 0x100000000000ull;
const uint64_t kFlagDeleted = 0x20000000000ull;
const uint32_t kFlags2Base = 0x10;
const uint32_t kFlags2Hidden = 0x10000;
const uint32_t kFlags2Deleted = 0x200;
const uint32_t kAttributeHidden = 0x2;
const uint32_t kRootAttributes = 0x10;
const int64_t kRestModulus = 10000000;

// Keys of the identifier pairs.
const uint32_t kKeyFileId1 = 0x2057F131;
const uint32_t kKeyFileId2 = 0x26BC1A27;
const uint32_t kKeyFileId3 = 0x85ED33A1;
const uint32_t kKeyFileId4 = 0x60512130;
const uint32_t kKeyFileIdTime = 0x4F5C5DC0;
const uint32_t kKeyViewId = 0x57571A98;

// Records and fields of the metadata message: (index, tag, record-class hash, field hash).
const uint32_t kMetaDataClass = 0x65F4850C;
const uint32_t kIndexingDataClass = 0x651935BA;
const uint32_t kDbInfoClass = 0x65F65749;
const uint32_t kAgingDataClass = 0x65999426;

std::string WithBackslashes(std::string strPath) {
    for (char &ch : strPath) {
        if (ch == '/') {
            ch = '\\';
        }
    }
    return strPath;
}

// "C:", "C:\" and the like.
bool IsDriveRoot(const std::string &strPath) {
    return (strPath.size() == 2 || strPath.size() == 3) && strPath[1] == ':';
}

// The remainder of truncating division, stored in 32 bits as it is (a negative count gives a
// negative remainder).
uint32_t Rest(int64_t llSeconds) {
    return static_cast<uint32_t>(llSeconds % kRestModulus);
}

} // namespace

CKyError CIdxLogWriterThread::PopulateHeader(const CItemPtr &ptrItem) {
    CXFileHeader &header = *m_pFileHeader;
    // A longer path is cut to fit the field, and still ends in a zero.
    StringCchCopyA(header.szName, CXFileHeader::kNameCapacity,
                   WithBackslashes(m_strItemPath).c_str());
    header.nNameLength = static_cast<uint32_t>(strlen(header.szName) + 1);
    header.nAttributes = ptrItem->GetAttributes();
    header.ullSize = ptrItem->GetSize();

    header.nHeaderType = kHeaderType;
    header.nHeaderFlags = kHeaderFlags;
    header.nPathDelimiter = kPathDelimiter;
    header.nValidFields = kValidFields;
    header.nClientOSId = static_cast<uint32_t>(m_ptrOptions->GetClientOSId());
    header.nFlags2 |= kFlags2Base;

    const bool bDriveRoot = IsDriveRoot(m_strItemPath);
    // A share's root or a drive's root carries the hidden bit of the volume, not of a folder.
    if ((header.nAttributes & kAttributeHidden) != 0 && !IsPathUNCRoot(m_strItemPath) &&
        !bDriveRoot) {
        header.nFlags2 |= kFlags2Hidden;
        header.ullFlags |= kFlagHidden;
    }

    header.llModificationTime = ptrItem->GetModificationTime().AsUnixTime();
    header.nModificationRest = Rest(header.llModificationTime);
    header.llChangeTime = ptrItem->GetChangeTime().AsUnixTime();
    header.nChangeTimeRest = Rest(header.llChangeTime);
    header.nAccessTime = static_cast<uint32_t>(ptrItem->GetAccessTime().AsUnixTime());

    header.ullMode = ptrItem->IsFolder() ? kModeFolder : kModeFile;
    header.nDeleted = 0;
    header.ullReserved24 = 0;
    header.ullLinkCount = 1;

    uint32_t nCompressedState = 0;
    GetCompressedState(ptrItem, nCompressedState);
    header.nCompressedState = nCompressedState;

    if (bDriveRoot) {
        header.ullFlags |= kFlagDriveRoot;
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::PopulateDeletedFileHeader(const CItemPtr &) {
    CXFileHeader &header = *m_pFileHeader;
    // The name keeps its "/": the index server finds a deleted item by the path it was given.
    StringCchCopyA(header.szName, CXFileHeader::kNameCapacity, m_strItemPath.c_str());
    header.nNameLength = static_cast<uint32_t>(strlen(header.szName) + 1);
    header.nHeaderType = kHeaderType;
    header.nHeaderFlags = kHeaderFlags;
    header.nDeleted = 1;
    header.ullMode = kModeFolder;
    header.ullLinkCount = 1;
    header.ullFlags = kFlagDeleted;
    header.nPathDelimiter = kPathDelimiter;
    header.nValidFields = kValidFields;
    header.nFlags2 = kFlags2Deleted;
    header.nClientOSId = static_cast<uint32_t>(m_ptrOptions->GetClientOSId());
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::SendFileInfo() {
    CKyError error = GenerateAndSendFileIdToIndex();
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = SendFileInfoToIdx();
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::GenerateAndSendFileIdToIndex() {
    boost::shared_ptr<IdxMetadata::IdxMetaData> ptrMessage =
        boost::make_shared_nothrow<IdxMetadata::IdxMetaData>();
    if (!ptrMessage) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory);
    }
    FileIdPairs vecPairs;
    CKyError error = GenerateFileIDs(vecPairs);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    error = SendFileMetadataInfoToIdx(ptrMessage, vecPairs);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::GenerateFileIDs(FileIdPairs &vecPairs) {
    CAutoTimeCounter timer(m_ptrSolrTransmitterPrivate->Timers().m_ptrGuidGenerationTimer.get());
    const CTransmitterOptions &options = *m_ptrOptions;
    const CXFileHeader &header = *m_pFileHeader;

    CFileNameHash hash(options.GetAppGUID());
    CFileNameHash::GetValuesArgs args;
    std::string strPath = m_strItemPath;
    if ((header.ullMode & kModeFolder) != 0) {
        FXPath::AppendTrailingDelimiter(strPath);
    }
    args.strPath = WithBackslashes(strPath);
    args.llFirstTime = header.llChangeTime != 0 ? header.llChangeTime : options.GetRefTime();
    args.llSecondTime = header.llModificationTime;
    args.ullSize = header.ullSize;
    args.nAttributes = header.nAttributes;
    args.strVolumeMountPath = m_strVolMountPath;
    args.strParentPath = WithBackslashes(m_strParentPath);
    args.pFileId1 = &m_strFileId1;
    args.pFileId2 = &m_strFileId2;
    args.pFileId3 = &m_strFileId3;
    args.pFileId4 = &m_strFileId4;
    args.bCollectSecurity = options.IsCollectSecurityInfo();
    args.bSecondFlag = false;
    const std::string strSeedSuffix = GetAppDefinedVersionGUIDSeedSuffix();
    args.pSeedSuffix = strSeedSuffix.empty() ? nullptr : &strSeedSuffix;

    if ((header.ullFlags & kFlagDriveRoot) != 0) {
        args.llSecondTime = options.GetRefTime();
        args.ullSize = 0;
        args.nAttributes = kRootAttributes;
        args.llFirstTime = options.GetBackupType() == 1 ? 0 : options.GetRefTime();
    }
    m_nFileIdTime = args.llFirstTime;

    CKyError error = hash.GetValues(args);
    if (error.IsError()) {
        return error.Push(FXLOC);
    }
    vecPairs.emplace_back(kKeyFileId1, &m_strFileId1);
    vecPairs.emplace_back(kKeyFileId2, &m_strFileId2);
    vecPairs.emplace_back(kKeyFileId3, &m_strFileId3);
    vecPairs.emplace_back(kKeyFileId4, &m_strFileId4);
    vecPairs.emplace_back(kKeyFileIdTime, &m_nFileIdTime);
    vecPairs.emplace_back(kKeyViewId, &m_strViewId);
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::SendFileMetadataInfoToIdx(
    const boost::shared_ptr<IdxMetadata::IdxMetaData> &ptrMessage, const FileIdPairs &vecPairs) {
    if (!ptrMessage) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Invalid IdxMetadata object");
    }
    if (vecPairs.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "File ID vector for index is empty");
    }
    if (!m_ptrIdxConnection) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Index connection is not initialized");
    }

    CNMessageBase **ppIndexing =
        ptrMessage->getObjectAccessor(true, true, 1, 1, kMetaDataClass, 0x00B4E5D0, 101, 1);
    CNMessageBase *pIndexing = ppIndexing != nullptr ? *ppIndexing : nullptr;
    if (pIndexing == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Indexing data object is invalid");
    }
    CNMessageBase **ppAging =
        ptrMessage->getObjectAccessor(true, true, 11, 11, kMetaDataClass, 0x00543D21, 101, 37);
    CNMessageBase *pAging = ppAging != nullptr ? *ppAging : nullptr;
    if (pAging == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Aging data object is invalid");
    }
    CNMessageBase **ppDbInfo = pIndexing->getObjectAccessor(
        true, true, 12, 15, kIndexingDataClass, 0x00843769, IdxMetadata::IdxDbInfo::kFamily,
        IdxMetadata::IdxDbInfo::kType);
    CNMessageBase *pDbInfo = ppDbInfo != nullptr ? *ppDbInfo : nullptr;
    if (pDbInfo == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Indexing Db info object is invalid");
    }

    for (const auto &pair : vecPairs) {
        const std::string *pText = static_cast<const std::string *>(pair.second);
        switch (pair.first) {
        case kKeyFileId1:
            pIndexing->setstring(13, 16, *pText, kIndexingDataClass, 0x00907A48);
            break;
        case kKeyFileId2:
            pIndexing->setstring(14, 20, *pText, kIndexingDataClass, 0x00C21292);
            break;
        case kKeyFileId3:
            pAging->setstring(1, 1, *pText, kAgingDataClass, 0x00309689);
            break;
        case kKeyFileId4:
            pDbInfo->setstring(3, 9, *pText, kDbInfoClass, 0x00A582D8);
            break;
        case kKeyFileIdTime:
            pIndexing->setint64(17, 32, *static_cast<const int64_t *>(pair.second),
                                kIndexingDataClass, 0x0007A939);
            break;
        case kKeyViewId:
            pDbInfo->setstring(2, 5, *pText, kDbInfoClass, 0x00B81AC0);
            break;
        default:
            break;
        }
    }
    pDbInfo->setstring(1, 1, m_ptrOptions->GetVSACatalogBackupSetGUID(), kDbInfoClass, 0x0074597C);

    // The text is made only for a line that is written.
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(5)) {
        std::string strXml;
        ptrMessage->serialize(strXml, false);
        IDX_LOG(5, "Sending indexing metadata : %s", strXml.c_str());
    }

    if (m_ptrIdxConnection->sendMetaDataInfo(ptrMessage.get()) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to add metadata for a path [%s].",
                                       m_strItemPath.c_str());
    }
    return CKyError::Success();
}

CKyError CIdxLogWriterThread::SendFileInfoToIdx() {
    if (!m_ptrIdxConnection) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Index connection is not initialized");
    }
    if (m_ptrIdxConnection->sendFileInfo(m_pFileHeader.get(), m_nFilesSent, nullptr, 0) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to send indexing file info for [%s].",
                                       m_strItemPath.c_str());
    }
    ++m_nFilesSent;
    return CKyError::Success();
}
