#include "engine/FetchItemsFromSolrPrivate.h"

#include <cstdio>
#include <new>

#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"
#include "foundation/HandleOwners.h"
#include "platform/ContentIndexingMessages.h"
#include "platform/IdxWebServerClient.h"
#include "platform/JobClients.h"
#include "platform/LogWriter.h"
#include "platform/PlatformInfo.h"
#include "platform/TQLibCurl.h"

namespace {

const char kSection[] = "FileSystemAgent";
const char kWebServerSetting[] = "WebServerURL";

// The request's own record that holds the user, and the search text's record.
const int32_t kUserFamily = 14;
const int32_t kUserType = 1;
const int32_t kSearchTextFamily = 14;
const int32_t kSearchTextType = 154;
// What the search request asks of the web server (field 6 of the request).
const int64_t kSearchRequestMode = 4;

const size_t kLineBufferSize = 65536;

// While the export runs the job's quit flag is asked about once a second, as the workers'
// transfers ask it; curl consults the check at least once a second even when nothing moves.
const int64_t kQuitPollMs = 900;
// A web server may think a long time before its first result, but an answer that moves fewer
// bytes than this a second for the whole idle limit is as good as stalled: a trickle of a byte a
// second would otherwise hold the caller for ever.
const long kIdleBytesPerSecond = 16;

void AddParameter(PyxContentIndexing::SearchProcessingInfo &info, const std::string &strName,
                  const std::string &strValue) {
    PyxContentIndexing::SearchParameters parameter;
    parameter.setstring(1, 1, strName);
    parameter.setstring(2, 5, strValue);
    info.addlistobject(5, 5, parameter);
}

} // namespace

CFetchItemsFromSolrPrivate::CFetchItemsFromSolrPrivate(uint64_t ullFirstNumber,
                                                       uint64_t ullSecondNumber,
                                                       const std::string &strSearchText)
    : m_ullFirstNumber(ullFirstNumber), m_ullSecondNumber(ullSecondNumber),
      m_strSearchText(strSearchText), m_nIdleLimitSeconds(TQLibCurl::kDefaultStallSeconds) {}

CFetchItemsFromSolrPrivate::~CFetchItemsFromSolrPrivate() = default;

CKyError CFetchItemsFromSolrPrivate::FetchItems(const std::string &strOutputFile) {
    return FetchItems(strOutputFile, false, false);
}

void CFetchItemsFromSolrPrivate::BuildSearchRequest(
    bool bDataType, bool bSize, PyxContentIndexing::TQSearchReq &request) const {
    // Each record is complete before it is stored: a record is stored as a copy.
    PyxContentIndexing::TqAdvancedSearchGroup group;
    (*group.getObjectAccessor(true, false, 1, 1, 0, 0, kSearchTextFamily, kSearchTextType))
        ->setstring(1, 1, m_strSearchText);

    PyxContentIndexing::TQOrbisSecurityGroup security;
    security.setint64(1, 1, static_cast<int32_t>(static_cast<uint32_t>(m_ullSecondNumber)));
    security.addlistint32(2, 2, static_cast<int32_t>(static_cast<uint32_t>(m_ullFirstNumber)));
    group.addlistobject(7, 7, security);
    request.setObjectAccessor(group, 2, 2);

    std::string strFields = "FAST_URL";
    if (bDataType) {
        strFields += ",DATA_TYPE";
    }
    if (bSize) {
        strFields += ",SIZEINKB";
    }
    PyxContentIndexing::SearchProcessingInfo info;
    AddParameter(info, "ENABLE_LATTICE_SEARCH", "TRUE");
    AddParameter(info, "RESPONSE_FIELD_LIST", strFields);
    AddParameter(info, "SORT_STYLE", "Ascending");
    AddParameter(info, "SORTFIELD", "FAST_URL");
    AddParameter(info, "RESPONSE_FIELD_DISP_NAME_LIST", "");
    AddParameter(info, "ENABLE_MIXEDVIEWSEARCH", "TRUE");
    request.setObjectAccessor(info, 1, 1);
    request.setint64(6, 6, kSearchRequestMode);
}

CKyError CFetchItemsFromSolrPrivate::FetchItems(const std::string &strOutputFile, bool bDataType,
                                                bool bSize) {
    TQDebugFunction trace(__PRETTY_FUNCTION__, 1);

    std::string strUrl;
    if (TQPlatformInfo().getString(kSection, kWebServerSetting, strUrl) != 0) {
        IDX_LOG(0, "Found web server URL [%s] from registry.", strUrl.c_str());
    } else {
        CKyError error = I2::Utils::IdxWebServerClient::getWebServerInfoFromHQ(strUrl);
        if (error.IsError()) {
            return error.Push(FXLOC);
        }
    }
    // Taken as it is: a base URL that ends in "/" gives two slashes, which web servers accept.
    strUrl += kExportPath;

    PyxContentIndexing::TQSearchReq request;
    BuildSearchRequest(bDataType, bSize, request);

    // Searching as anybody else could show the user items that are not theirs.
    std::string strUser;
    CKyError error = GetUserWhoStartedTheJob(strUser);
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to get user who started the job, error=%s", error.AsString().c_str());
        return error.Push(FXLOC);
    }
    (*request.getObjectAccessor(true, false, 8, 8, 0, 0, kUserFamily, kUserType))
        ->setstring(2, 5, strUser);
    IDX_LOG(1, "Using user [%s] to fetch items from solr.", strUser.c_str());

    std::string strRequest;
    const int nSerialized = request.serialize(strRequest, false);
    if (nSerialized != 0) {
        IDX_LOG_ERROR("Failed to serialize the TqSearchRequest with error code [%d]", nSerialized);
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to serialize TqSearchRequest, error=[%d]",
                                       nSerialized);
    }
    IDX_LOG(0, "WebServer URL [%s], Search request [%s]", strUrl.c_str(), strRequest.c_str());

    const std::string strFile = strOutputFile;
    // The download removes what it wrote when it fails, so the caller finds no partial result;
    // a file it could not open is not its own and stays where it is.
    TqCurlReadStream stream;
    stream.SetIdleLimit(m_nIdleLimitSeconds, kIdleBytesPerSecond);
    TQJobCtrlClient jobControl;
    bool bQuit = false;
    int64_t llLastQuitPollMs = 0;
    stream.SetCancelCheck([&](const TQLibCurl::STransferState &state) {
        if (state.bStarting || state.llElapsedMs - llLastQuitPollMs >= kQuitPollMs) {
            llLastQuitPollMs = state.llElapsedMs;
            bQuit = jobControl.checkQuitFlag() != 0;
        }
        return bQuit;
    });
    error = stream.Download(strFile, strUrl, strRequest);
    if (error.IsError() && bQuit) {
        error = FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                        "Search-result export given up: the job was asked to "
                                        "stop, URL=[%s]",
                                        strUrl.c_str());
    }
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to download searchResults, error=%s", error.AsString().c_str());
        return error.Push(FXLOC);
    }

    if (!IsCollectEmpty(strFile)) {
        return CKyError::Success();
    }
    IDX_LOG(0, "Index query returned 0 items");
    CKyError deleteError = FXFile::DeleteFile(strFile);
    if (deleteError.IsError()) {
        IDX_LOG_ERROR("Failed to delete the adhoc file, error=%s", deleteError.AsString().c_str());
    }
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eSearchReturnedNothing,
                                   "Index query returned 0 items");
}

bool CFetchItemsFromSolrPrivate::IsCollectEmpty(const std::string &strFile) {
    auto_fileptr file;
    CKyError error = FXFile::tqfopen(file, strFile, "r");
    if (error.IsError()) {
        IDX_LOG_ERROR("Failed to open file to count lines, FileName=[%s], error=%s",
                      strFile.c_str(), error.AsString().c_str());
        return false;
    }
    auto_ptr_array<char> buffer(new (std::nothrow) char[kLineBufferSize]);
    if (!buffer.is_valid()) {
        IDX_LOG_ERROR("Failed to allocate memory for buffer");
        return false;
    }
    // One line decides it; the rest of the file is not read.
    return fgets(buffer.get(), static_cast<int>(kLineBufferSize), file.get()) == nullptr;
}

CKyError CFetchItemsFromSolrPrivate::GetUserWhoStartedTheJob(std::string &strUser) {
    EvTask task(EvEvent::getJobId(), 0, nullptr, false);
    const int nResult = task.getOptionString(EvTask::kOptionStartedByUser, strUser, nullptr);
    if (nResult != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Failed to get user who started the job. Error [%d]",
                                       nResult);
    }
    if (strUser.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eGeneralFailure,
                                       "Got user as empty who started the job.");
    }
    return CKyError::Success();
}
