// Failures-file members of CSolrTransmitterPrivate: opening (and counting the earlier failures
// of a backup phase), appending the names of items that failed, syncing, closing.
//
// The file is the job's dead-letter list and must outlive the process that writes it: each call
// that records names flushes them to the file before it returns, and the file is synced to the
// disk at Stop and before a commit or a restart position.
//
// One name is one line. A name with a line break (legal in a POSIX name) is written with its
// breaks as "\n" and "\r" and its backslashes doubled, so that it stays on its line and reads
// back as it was; every other name is written exactly as it is.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "foundation/StringHelpers.h"
#include "platform/LogWriter.h"
#include "transmitter/ExceptionBoundary.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const char kScanFailuresFile[] = "SolrScanFailures.tqf";
const char kBackupFailuresFile[] = "SolrBackupFailures.tqf";
const char kScanPhaseFailuresFile[] = "scan_Failures.tqf";
const int kCountBufferSize = 65536;

// The earlier attempt may have been cut off in the middle of a line: a name appended after it
// must start a line of its own rather than be joined to the cut one. The stream is open in "a+",
// so it may be read anywhere while every write still goes to the end.
void EndLastLine(FILE *pFile, const std::string &strPath) {
    if (fseek(pFile, -1, SEEK_END) != 0) {
        return; // an empty file has no last line
    }
    int nLast = fgetc(pFile);
    // Between a read and a write the stream must be positioned again.
    if (fseek(pFile, 0, SEEK_END) != 0 || nLast == EOF || nLast == '\n') {
        return;
    }
    if (fputc('\n', pFile) == EOF) {
        IDX_LOG_ERROR("Failed to end the last line of solr failures file [%s], error=%d",
                      strPath.c_str(), errno);
    }
}

bool HasLineBreak(const std::string &strName) {
    return strName.find_first_of("\r\n") != std::string::npos;
}

// The one-line form of a name with a line break. The backslash is escaped as well, so that a
// name's own "\n" (backslash, n) never reads back as a line break.
std::string EscapeLineBreaks(const std::string &strName) {
    std::string strEscaped;
    strEscaped.reserve(strName.size() + 8);
    for (const char ch : strName) {
        switch (ch) {
        case '\n':
            strEscaped += "\\n";
            break;
        case '\r':
            strEscaped += "\\r";
            break;
        case '\\':
            strEscaped += "\\\\";
            break;
        default:
            strEscaped += ch;
            break;
        }
    }
    return strEscaped;
}

} // namespace

CKyError CSolrTransmitterPrivate::OpenSolrFailuresFile() {
    if (m_ptrOptions->IsDisableFailureLogging()) {
        IDX_LOG(0, "Failure logging is disabled.");
        return CKyError::Success();
    }

    const std::string &strFolder = m_ptrOptions->GetSubClientDir();
    int64_t llEarlierFailures = 0;
    std::string strMode;
    std::string strPath = strFolder;

    if (m_ptrOptions->IsScanPhase()) {
        // The scan phase starts its list afresh; nothing found in the folder counts.
        strMode = "wb";
        FXPath::Append(strPath, kScanFailuresFile, 0);
    } else {
        // The backup phase adds to the list of the earlier attempt, and both that list and the
        // scan phase's list are failures the job must still report.
        strMode = "a+";
        FXPath::Append(strPath, kBackupFailuresFile, 0);
        if (FXFile::Exists(strPath)) {
            llEarlierFailures += CountLines(strPath);
        }
        // A scan phase that failed nothing leaves no list: that is no error to report.
        std::string strScanList = strFolder;
        FXPath::Append(strScanList, kScanPhaseFailuresFile, 0);
        if (FXFile::Exists(strScanList)) {
            llEarlierFailures += CountLines(strScanList);
        }
    }

    // Without a subclient folder the file lands in the process's working folder, where nobody
    // would look for it: say where it is.
    if (strPath.empty() || strPath[0] != '/') {
        std::error_code ec;
        std::filesystem::path pathAbsolute = std::filesystem::absolute(strPath, ec);
        IDX_LOG(
            0,
            "Subclient folder [%s] is not an absolute path, the solr failures file goes under the "
            "working folder: [%s]",
            strFolder.c_str(), ec ? strPath.c_str() : pathAbsolute.c_str());
    }

    auto_fileptr fpOpened;
    CKyError error = FXFile::tqfopen(fpOpened, strPath, strMode.c_str());
    if (error.IsError()) {
        SetSolrFailureReason("Failed to open solr failures file. ");
        return error.Push(FXLOC,
                          "Failed to open solr failures file [%s] for writing: the transmitter "
                          "does not start, since items that fail could not be listed",
                          strPath.c_str());
    }

    if (!m_ptrOptions->IsScanPhase()) {
        EndLastLine(fpOpened.get(), strPath);
    }

    {
        auto_lock lock(&m_lockFailuresFile, true);
        m_fpSolrFailures.reset(fpOpened.get());
        fpOpened.__set(nullptr);
        if (llEarlierFailures != 0) {
            m_llFailedItemCount = llEarlierFailures;
        }
    }
    if (llEarlierFailures != 0) {
        SetPushDataToSolrFailed(true);
    }
    return CKyError::Success();
}

int64_t CSolrTransmitterPrivate::CountLines(const std::string &strPath) {
    auto_fileptr fpFile;
    CKyError error = FXFile::tqfopen(fpFile, strPath, "r");
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to open file to count lines, FileName=[%s], error=%s",
                      strPath.c_str(), error.AsString().c_str());
        return 0;
    }

    auto_ptr_array<char> buffer(new (std::nothrow) char[kCountBufferSize]);
    if (!buffer.is_valid()) {
        IDX_LOG_ERROR("Failed to allocate memory for buffer");
        return 0;
    }

    // One count per read: a line longer than the buffer counts once per started piece, which
    // keeps the memory bounded whatever the file holds.
    int64_t llLines = 0;
    while (fgets(buffer.get(), kCountBufferSize, fpFile.get()) != nullptr) {
        ++llLines;
    }
    IDX_LOG(0, "Lines in file [%s]=%lld", strPath.c_str(), static_cast<long long>(llLines));
    return llLines;
}

CKyError CSolrTransmitterPrivate::AddItemToSolrFailures(const std::vector<std::string> &vecItems) {
    auto_lock lock(&m_lockFailuresFile, true);
    if (m_ptrOptions->IsDisableFailureLogging()) {
        // The job keeps no list, but it still learns how many items failed.
        m_llFailedItemCount += static_cast<int64_t>(vecItems.size());
        return CKyError::Success();
    }
    if (vecItems.empty()) {
        return CKyError::Success();
    }
    FILE *pFile = m_fpSolrFailures.get();
    if (pFile == nullptr) {
        // Before Start opened the file or after Stop closed it: the names cannot be kept, and the
        // caller must learn that rather than believe them recorded.
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Solr failures file is not open, %zu failed items not "
                                       "recorded",
                                       vecItems.size());
    }
    for (const std::string &strItem : vecItems) {
        const bool bEscaped = HasLineBreak(strItem);
        const std::string strLine = bEscaped ? EscapeLineBreaks(strItem) : std::string();
        const std::string &strWritten = bEscaped ? strLine : strItem;
        if (bEscaped) {
            IDX_LOG_ERROR("A failed item's name holds a line break, it is listed in the solr "
                          "failures file with its line breaks and backslashes escaped, item=[%s]",
                          strWritten.c_str());
        }
        if (fprintf(pFile, "%s\n", strWritten.c_str()) < 0) {
            IDX_LOG_ERROR("Error writing to solr failures file, item=%s error=%d",
                          strWritten.c_str(), errno);
            continue;
        }
        ++m_llFailedItemCount;
    }
    // The lines leave the process now: a host killed after this call keeps them.
    if (fflush(pFile) != 0) {
        IDX_LOG_ERROR("Failed to flush solr failures file, error=%d", errno);
    }
    return CKyError::Success();
}

void CSolrTransmitterPrivate::SyncSolrFailuresFile() {
    auto_lock lock(&m_lockFailuresFile, true);
    FILE *pFile = m_fpSolrFailures.get();
    if (pFile == nullptr) {
        return;
    }
    if (fflush(pFile) != 0 || fsync(fileno(pFile)) != 0) {
        const int nError = errno;
        IDX_LOG_ERROR("Failed to sync solr failures file to the disk, error=%d (%s)", nError,
                      strerror(nError));
    }
}

void CSolrTransmitterPrivate::CloseSolrFailuresFile() {
    SyncSolrFailuresFile();
    auto_lock lock(&m_lockFailuresFile, true);
    m_fpSolrFailures.reset();
}

int64_t CSolrTransmitterPrivate::GetFailedItemCount() {
    auto_lock lock(&m_lockFailuresFile, true);
    return m_llFailedItemCount;
}

bool CSolrTransmitterPrivate::GetFailureName(const CItem &item, std::string &strName) {
    // The web-service senders hand the plug-in each item under its fully qualified name, and the
    // plug-in reports failed records under that name: such a job lists every failed item under
    // it, whichever way the item failed, so that one item never has two names in the list.
    if (m_ptrOptions->IsVMContentIndexing() || m_ptrOptions->IsSPContentIndexing()) {
        try {
            strName = item.GetFullyQualifiedItemName();
            return true;
        } catch (...) {
            // No record could be made of it either: its path is the only name it has.
        }
    }
    try {
        strName = item.GetPath();
        return true;
    } catch (...) {
        CKyError error = ErrorFromCaughtException(FXLOC);
        SetPushDataToSolrFailed(true);
        IDX_LOG_ERROR("An item's path could not be read: it failed without a line in the failures "
                      "file, error=%s",
                      error.AsString().c_str());
        return false;
    }
}

void CSolrTransmitterPrivate::RecordItemsAsFailed(const std::vector<std::string> &vecNames,
                                                  const std::string &strReason) {
    if (vecNames.empty()) {
        return;
    }
    // The reason and the first name go to the log; the names go to the failures file.
    IDX_LOG_ERROR("%zu items not indexed, recorded as failed, reason=[%s], first item=[%s]",
                  vecNames.size(), strReason.c_str(), vecNames.front().c_str());
    SetPushDataToSolrFailed(true);
    CKyError error = AddItemToSolrFailures(vecNames);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to add items to solr failures file, error=%s",
                      error.AsString().c_str());
    }
}
