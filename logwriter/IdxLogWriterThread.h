// The worker of index-log transmitters (type 1; the variants of types 2 to 4 derive from it): it
// opens its own connection to the index server's log, announces the job's archive file, then
// takes the queued items one at a time and sends, for each, a metadata message with the item's
// file identifiers followed by a fixed-layout file header. When it stops it announces the
// archive file again as final and sends the backup-done flag.
//
// Items are held in a CItemBatch from the moment they are taken: one the index server refused
// goes to the failures file with the real error, which also becomes the transmitter's failure
// reason, and the worker aborts the transmitter so that the job is refused further items. A
// worker whose connection could not be set up never sends: it fails the first item it takes the
// same way. The engine requests (commit, ping, counters, control requests) are not supported.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "platform/FileHeader.h"
#include "platform/IndexingConnection.h"
#include "platform/Item.h"
#include "transmitter/IdxTransmitterThread.h"

class CItemBatch;

class CIdxLogWriterThread : public CIdxTransmitterThread {
public:
    // (32-bit key, address of the value) pairs that carry the file identifiers to the message.
    typedef std::vector<std::pair<uint32_t, const void *>> FileIdPairs;

    // Nothing is connected or started: the connection is made when the worker's thread starts.
    CIdxLogWriterThread(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                        CTransmitterOptionsPtr ptrOptions);
    ~CIdxLogWriterThread() override;

    // The loop is the base's (CIdxTransmitterThread::OnEvent), one item per batch.
    void OnStart() override;
    void OnStop() override;

    // Engine requests: each logs "Not supported" at error level. The commit succeeds, the ping
    // answers false, the others fail with 50.
    CKyError SendCommit() override;
    bool IsIdxEngineRunning() override;
    CKyError LogPerformanceCounters() override;
    CKyError SendDeleteDataSourceContent(const std::string &strDataSource) override;
    CKyError PruneAuditCore(const std::string &strEventTime, const std::string &strAppId) override;
    CKyError SyncAuditAndMainCore(int32_t nEventBits, const std::string &strAppId) override;

    // The index view the metadata names: "default" here.
    virtual void InitIdxDbInfoViewId();
    // The volume mount path of an item path: empty here.
    virtual std::string FindVolumeMountPointPath(const std::string &strPath);

    // Connection set-up, archive-file announcement and finalisation.
    CKyError InitIdxConnection();
    CKyError SendArchiveFileInfo(uint64_t ullArchiveFileId, bool bFinal);
    // Announces an identifier the caller already holds (short form); nothing calls it.
    CKyError SendArchiveFileInfo(ArchiveFileId_t *pArchiveFileId);
    CKyError FinalizeIdxConnection(bool bFinal);

    // Sends every item the batch holds, oldest first, settling each; stops at the first item that
    // fails (failed in the batch with the error's text) and returns that error. After the last
    // item the progress since the last report goes to the job callback.
    CKyError ProcessBatch(CItemBatch &batch) override;
    // A failed item ends the job: logged as "ProcessItems failed", and the transmitter aborts
    // with the error as its reason.
    bool OnBatchError(const CKyError &error, std::string &strAbortReason) override;
    CKyError InitItemProcessing(const CItemPtr &ptrItem);
    CKyError InitItemName(const CItemPtr &ptrItem);

    // The header, the identifiers and the two sends (IdxLogWriterFileHeader.cpp).
    CKyError PopulateHeader(const CItemPtr &ptrItem);
    CKyError PopulateDeletedFileHeader(const CItemPtr &ptrItem);
    CKyError SendFileInfo();
    CKyError GenerateAndSendFileIdToIndex();
    CKyError GenerateFileIDs(FileIdPairs &vecPairs);
    CKyError
    SendFileMetadataInfoToIdx(const boost::shared_ptr<IdxMetadata::IdxMetaData> &ptrMessage,
                              const FileIdPairs &vecPairs);
    CKyError SendFileInfoToIdx();

    // True for the root of a network share ("\\server\share" or its "UNC-NT_" form).
    bool IsPathUNCRoot(const std::string &strPath);
    const char *GetItemPath() const { return m_strItemPath.c_str(); }
    CKyError GetCompressedState(const CItemPtr &ptrItem, uint32_t &nState);
    std::string GetAppDefinedVersionGUIDSeedSuffix() const { return std::string(); }
    bool IsParentFolderOfSrcVolMntPath() const { return false; }
    // Replaces the archive file id unless id is 0; nothing calls it.
    void SetArchiveFileID(uint64_t ullArchiveFileId);
    // 87 "Not supported" for an empty path or id 0; nothing calls it.
    CKyError AddArchiveFilePathMapEntry(const std::string &strPath, uint64_t ullArchiveFileId);

    // The current item's header, for tests of the header itself.
    const CXFileHeader &GetFileHeader() const { return *m_pFileHeader; }
    const std::string &GetViewId() const { return m_strViewId; }

protected:
    boost::shared_ptr<IndexingConnection> m_ptrIdxConnection;
    uint64_t m_nFilesSent;
    uint64_t m_nFilesReported;
    std::unique_ptr<CXFileHeader> m_pFileHeader;
    std::string m_strItemPath;
    std::string m_strParentPath;
    std::string m_strVolMountPath;
    std::string m_strFileId1;
    std::string m_strFileId2;
    std::string m_strFileId3;
    std::string m_strFileId4;
    int64_t m_nFileIdTime;
    std::string m_strViewId;
    uint64_t m_nArchiveFileId;
    std::map<uint64_t, std::string> m_mapArchiveFilePaths;

private:
    // The connection answered its initialize: only then is it used, also when stopping.
    bool m_bConnectionInitialized;
    // Why the worker has no connection; what its items are failed with.
    std::string m_strNoConnectionReason;
};
