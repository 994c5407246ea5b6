// The index server's log connection, as the index-log writer talks to it: one connection per
// worker, initialised first, then archive-file announcements, per-item metadata messages and file
// headers (or live-crawl index commands), commits, and the backup-done flag last.
//
// Every call answers 0 for success and anything else for a failure, with no further reason. The
// connection here is our own stand-in for the host's: it checks what it is given the way the
// index server would (a call before a successful initialize, or a header whose sequence number is
// not the count of headers accepted before, is refused) and hands a deep copy of every call to
// the process's index-server record (platform/testing/IndexServer.h reads it and scripts
// failures). When IDX_INDEX_SERVER_LOG names a file, each call is appended there as one JSON
// object a line instead, so an index-log job can be looked at without an index server.
#pragma once

#include <cstdint>

#include "foundation/Export.h"
#include "platform/FileHeader.h"
#include "platform/IndexRecords.h"

// Names an archive file to the index server.
struct ArchiveFileId_t {
    uint32_t nFleetId;
    uint32_t nIdentifier; // the archive manager's identifier of the file
    uint32_t nAfileId;
};

class IDX_EXPORT IndexingConnection {
public:
    // Throws boost::interprocess::bad_alloc when the connection cannot be made, so that the
    // no-throw factory answers an empty pointer.
    IndexingConnection();
    ~IndexingConnection();
    IndexingConnection(const IndexingConnection &) = delete;
    IndexingConnection &operator=(const IndexingConnection &) = delete;

    // The first call. The backup level is the job manager's (32 bits, signed).
    int initialize(uint64_t ullFleetId, uint64_t ullApplicationNumber, uint64_t ullAppType,
                   int32_t nBackupLevel, const char *szJobToken,
                   const char *szIndexServerMangledName, const char *szIndexServerClientName,
                   uint64_t ullConnectionFlags);
    int setStreamJobId(int64_t llSnapJobId);
    // Announces the job's archive file: at the start (bFinal false) and at the end (true).
    int sendAfileInfo(ArchiveFileId_t *pAfileId, bool bFinal, uint64_t ullReplyValue,
                      uint64_t ullAfileFlags, uint32_t nApplicationNumber, int64_t llSnapJobId,
                      int nReserved);
    int sendAfileInfo(ArchiveFileId_t *pAfileId, bool bFinal, uint64_t ullReplyValue,
                      uint64_t ullAfileFlags);
    // One item: its metadata message, then its file header. ullSequence is the number of headers
    // this connection accepted before (0 first).
    int sendMetaDataInfo(IdxMetadata::IdxMetaData *pMetadata);
    int sendFileInfo(CXFileHeader *pHeader, uint64_t ullSequence, void *pReserved, int nReserved);
    // One live-crawl index command.
    int sendFileInfoV2(IdxMetadata::IdxDbInfo &dbInfo, Indexing::IdxCommand &command);
    // Commits what this connection has sent; 0 means the index log is durable up to here.
    int updateRestartInfo(int nReserved);
    // The last call of a worker.
    int backupDone(int nFinal);

private:
    // Records the call, applies the scripted answer and returns the result.
    template <class Fill> int Call(const char *szCall, bool bNeedsInitialize, Fill fnFill);

    const int m_nConnection; // 1 for the first connection made since the record's reset
    bool m_bInitialized;
    uint64_t m_ullHeadersAccepted;
};
