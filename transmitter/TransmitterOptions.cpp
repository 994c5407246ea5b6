// The option record: defaults, the abort questions (asked of the abort state) and the derived
// values.
#include "transmitter/TransmitterOptions.h"

#include "foundation/Accessors.h"
#include "platform/LogWriter.h"
#include "platform/StringFormat.h"
#include "transmitter/AbortState.h"

namespace {

const char kSolrPathSegment[] = "solr";

// Where the path of a URL begins: the first "/" after the scheme and the host (and port).
// npos when the URL has no path, so nothing of the scheme or host is ever searched.
size_t FindPathStart(const std::string &strUrl) {
    size_t nHostStart = 0;
    size_t nScheme = strUrl.find("://");
    if (nScheme != std::string::npos) {
        nHostStart = nScheme + 3;
    }
    return strUrl.find('/', nHostStart);
}

} // namespace

CTransmitterOptions::CTransmitterOptions()
    : m_pAbortState(new CAbortState()), m_nServerPort(80), m_ulFleetId(0), m_ulAppType(0),
      m_eBackupType(0), m_ullIndexingConnectionFlags(0), m_llSnapJobId(0), m_ulSnapArchiveFileID(0),
      m_ulArchiveFileFlags(0), m_lRefTime(0), m_ulClientOSId(0), m_bPushOnlyMetaData(true),
      m_bCollectSecurityInfo(false), m_bCollectOwnerInfo(false), m_bRetainVersion(false),
      m_bScanPhase(true), m_bPushMetaDataWithCRC(false), m_llMaxConsecutiveFailures(10),
      m_llMaxFailures(500), m_llMaxRetryOnMemoryFailures(10), m_llJobId(0), m_strJobId("0"),
      m_nClientId(0), m_strClientId("0"), m_nApplicationNumber(0), m_strApplicationNumber("0"),
      m_llMaxFileSizePushContent(52428800LL), m_llMinFileSizePushContent(0),
      m_nMaxItemsPerTransaction(20), m_bOptimizeContentPush(false), m_bCloudMode(false),
      m_bPreserveAccessTime(false), m_bNasClient(false), m_bVMContentIndexing(false),
      m_bSPContentIndexing(false), m_bDisableFailureLogging(false), m_bEnableMonitoring(false),
      m_bUseDynamicTppm(true), m_bAuditingContext(false), m_nMaxCollectFileID(0) {}

CTransmitterOptions::~CTransmitterOptions() {}

void CTransmitterOptions::SetCallback(CSolrTransmitterCallbackPtr ptrCallback) {
    m_ptrCallback = ptrCallback;
    m_pAbortState->SetCallback(ptrCallback);
}

bool CTransmitterOptions::IsQuitJobQuitFlagSet() const {
    return m_pAbortState->IsQuitFlagSet();
}

bool CTransmitterOptions::IsAborted() {
    return m_pAbortState->IsAborted();
}

void CTransmitterOptions::SetAborted(bool bAborted) {
    m_pAbortState->SetAborted(bAborted);
}

void CTransmitterOptions::SetAbortEvent(boost::shared_ptr<FXEvent> ptrAbortEvent) {
    m_pAbortState->SetAbortEvent(ptrAbortEvent);
}

void CTransmitterOptions::SetJobId(long long llJobId) {
    m_llJobId = llJobId;
    m_strJobId = FXFormat("%lld", llJobId);
}

void CTransmitterOptions::SetClientId(unsigned int nClientId) {
    m_nClientId = nClientId;
    m_strClientId = FXFormat("%lu", tqcast::lu(nClientId));
}

void CTransmitterOptions::SetApplicationNumber(unsigned int nApplicationNumber) {
    m_nApplicationNumber = nApplicationNumber;
    m_strApplicationNumber = FXFormat("%lu", tqcast::lu(nApplicationNumber));
}

void CTransmitterOptions::SetMaxItemsPerTransaction(int nMaxItems) {
    m_nMaxItemsPerTransaction = nMaxItems;
    if (m_nMaxItemsPerTransaction <= 0) {
        m_nMaxItemsPerTransaction = 1;
    }
}

void CTransmitterOptions::SetBaseSolrUrl(const std::string &strBaseSolrUrl) {
    m_strBaseSolrUrl = strBaseSolrUrl;
    m_wstrBaseSolrUrl.assign(strBaseSolrUrl.begin(), strBaseSolrUrl.end());

    // The REST API lives at the engine's root, the "solr" segment of the path. Only the path is
    // searched: a host that happens to be named like "solrhost" must never be cut.
    std::string strRestUrl(strBaseSolrUrl);
    long lFound = -1;
    size_t nPathStart = FindPathStart(strBaseSolrUrl);
    if (nPathStart != std::string::npos) {
        size_t nFound = strRestUrl.find(kSolrPathSegment, nPathStart);
        if (nFound != std::string::npos) {
            lFound = static_cast<long>(nFound);
            if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
                IDX_LOG(4, "bReplaced:%d REST API URL:%s I am here", static_cast<int>(lFound),
                        strBaseSolrUrl.c_str());
            }
            strRestUrl.erase(nFound + sizeof(kSolrPathSegment) - 1);
        }
    }
    m_strRestAPISolrUrl = strRestUrl;
    if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(4)) {
        IDX_LOG(4, "bReplaced:%d REST API URL:%s", static_cast<int>(lFound),
                m_strRestAPISolrUrl.c_str());
    }
}
