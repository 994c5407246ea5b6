// libcurl behind TQLibCurl: the handle, its options and the request headers. The transfers
// themselves and the download of TqCurlReadStream are in TQLibCurlTransfer.cpp.
#include "platform/TQLibCurl.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "platform/StringFormat.h"

namespace {

// curl_global_init is not thread-safe and must run once before any handle is made; it is never
// undone, since handles may live until the process ends.
bool EnsureCurlGlobalInit() {
    static std::once_flag s_once;
    static CURLcode s_eResult = CURLE_OK;
    std::call_once(s_once, [] { s_eResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return s_eResult == CURLE_OK;
}

// Loopback traffic never goes through a proxy, whatever the environment says; hosts the
// environment already exempts stay exempt, since CURLOPT_NOPROXY replaces no_proxy.
std::string NoProxyHosts() {
    std::string strHosts = "127.0.0.1,localhost,::1";
    for (const char *szVariable : {"no_proxy", "NO_PROXY"}) {
        const char *szValue = getenv(szVariable);
        if (szValue && *szValue) {
            strHosts += ",";
            strHosts += szValue;
            break;
        }
    }
    return strHosts;
}

std::string TrimBlanks(const std::string &strText) {
    size_t nFirst = strText.find_first_not_of(" \t");
    if (nFirst == std::string::npos) {
        return std::string();
    }
    size_t nLast = strText.find_last_not_of(" \t");
    return strText.substr(nFirst, nLast - nFirst + 1);
}

// Turns a caller's header line into the line that is sent; false for a line that cannot be one.
bool MakeHeaderLine(const std::string &strGiven, std::string &strLine) {
    std::string strTrimmed = TrimBlanks(strGiven);
    if (strTrimmed.empty() || strTrimmed.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    if (strTrimmed.find(':') == std::string::npos) {
        // A bare media type, as some callers give for form posts.
        bool bHasType = strTrimmed.find('/') != std::string::npos;
        strLine = "Content-Type: " + std::string(bHasType ? "" : "application/") + strTrimmed;
        return true;
    }
    if (TrimBlanks(strTrimmed.substr(0, strTrimmed.find(':'))).empty()) {
        return false;
    }
    strLine = strTrimmed;
    return true;
}

bool SameHeaderName(const std::string &strLineA, const std::string &strLineB) {
    std::string strNameA = TrimBlanks(strLineA.substr(0, strLineA.find(':')));
    std::string strNameB = TrimBlanks(strLineB.substr(0, strLineB.find(':')));
    return strcasecmp(strNameA.c_str(), strNameB.c_str()) == 0;
}

} // namespace

TQLibCurl::TQLibCurl()
    : m_pCurl(nullptr), m_pHeaderList(nullptr), m_bHeaderListCurrent(false), m_bUserAgentSet(false),
      m_pWriteCallback(nullptr), m_pWriteContext(nullptr), m_bHasAnswer(false),
      m_bAnswerTooLarge(false), m_bAnswerCut(false), m_bCutLongerAnswers(false),
      m_nMaxAnswerBytes(kDefaultMaxAnswerBytes), m_llHttpStatus(0), m_eLastFailure(EFailure::eNone),
      m_bCancelled(false), m_llBytesMoved(0), m_llStartMs(0), m_llLastMoveMs(0),
      m_pBodySource(nullptr), m_ullBodyLeft(0), m_bBodyFailed(false) {
    static_assert(kCurlErrorBytes >= CURL_ERROR_SIZE, "libcurl's error buffer size grew");
    m_szCurlError[0] = '\0';
}

TQLibCurl::~TQLibCurl() {
    if (m_pCurl) {
        curl_easy_cleanup(m_pCurl);
    }
    curl_slist_free_all(m_pHeaderList);
}

bool TQLibCurl::TQLibCurlInit(const std::string &strDefaultHeaderLine, bool bKeepAliveProbes,
                              bool bAcceptCompressed, TQLibCurlWriteCallback pWriteCallback,
                              void *pWriteContext) {
    try {
        if (!EnsureCurlGlobalInit()) {
            m_strLastError = "curl_global_init failed";
            return false;
        }
        m_strDefaultHeader.clear();
        if (!strDefaultHeaderLine.empty() &&
            !MakeHeaderLine(strDefaultHeaderLine, m_strDefaultHeader)) {
            m_strLastError =
                FXFormat("invalid default header line [%s]", strDefaultHeaderLine.c_str());
            return false;
        }
        if (m_pCurl) {
            curl_easy_reset(m_pCurl);
        } else {
            m_pCurl = curl_easy_init();
        }
        if (!m_pCurl) {
            m_strLastError = "curl_easy_init failed";
            return false;
        }
        // The reset dropped the header list and the User-Agent from the handle.
        m_vecAppendedHeaders.clear();
        m_strSetHeaderLine.clear();
        m_bHeaderListCurrent = false;
        m_bUserAgentSet = false;
        m_pWriteCallback = pWriteCallback;
        m_pWriteContext = pWriteContext;
        ClearAnswer();
        m_llHttpStatus = 0;

        static const std::string s_strNoProxy = NoProxyHosts();
        bool bOk =
            curl_easy_setopt(m_pCurl, CURLOPT_ERRORBUFFER, m_szCurlError) == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION,
                             pWriteCallback ? pWriteCallback : &TQLibCurl::OnAnswerBytes) ==
                CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA,
                             pWriteCallback ? pWriteContext : static_cast<void *>(this)) ==
                CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_NOPROXY, s_strNoProxy.c_str()) == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_CONNECTTIMEOUT_MS, kDefaultConnectTimeoutMs) ==
                CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_LOW_SPEED_TIME, kDefaultStallSeconds) == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_TCP_KEEPALIVE, bKeepAliveProbes ? 1L : 0L) ==
                CURLE_OK &&
            (!bAcceptCompressed ||
             curl_easy_setopt(m_pCurl, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK);
        if (!bOk) {
            m_strLastError = FXFormat("failed to set up the curl handle: %s", m_szCurlError);
        }
        return bOk;
    } catch (const std::exception &e) {
        m_strLastError = e.what();
        return false;
    }
}

bool TQLibCurl::TQLibCurlSetAdditionalOptionsIntValue(long nOption, long nValue) {
    if (!m_pCurl) {
        m_strLastError = "curl handle not initialised";
        return false;
    }
    // libcurl numbers its integer options below CURLOPTTYPE_OBJECTPOINT; anything else expects
    // a pointer or a 64-bit offset and must not be handed a long.
    if (nOption <= 0 || nOption >= CURLOPTTYPE_OBJECTPOINT) {
        m_strLastError = FXFormat("curl option %ld does not take an integer", nOption);
        return false;
    }
    CURLcode eResult = curl_easy_setopt(m_pCurl, static_cast<CURLoption>(nOption), nValue);
    if (eResult != CURLE_OK) {
        m_strLastError =
            FXFormat("failed to set curl option %ld: %s", nOption, curl_easy_strerror(eResult));
        return false;
    }
    return true;
}

void TQLibCurl::TQLibCurlFreeHttpHeaderList() {
    m_vecAppendedHeaders.clear();
    m_strSetHeaderLine.clear();
    m_bHeaderListCurrent = false;
}

bool TQLibCurl::TQLibCurlSetHeaderLine(const std::string &strHeaderLine) {
    if (!m_strSetHeaderLine.empty() && strHeaderLine == m_strSetHeaderLine) {
        return true;
    }
    TQLibCurlFreeHttpHeaderList();
    if (!TQLibCurlAppendHeader(0, strHeaderLine)) {
        return false;
    }
    try {
        m_strSetHeaderLine = strHeaderLine;
    } catch (const std::exception &) {
        // Not remembered: the next call sets the line again.
    }
    return true;
}

bool TQLibCurl::TQLibCurlAppendHeader(int nHeaderType, const std::string &strHeaderLine) {
    try {
        std::string strLine;
        if (nHeaderType != 0 || !MakeHeaderLine(strHeaderLine, strLine)) {
            m_strLastError =
                FXFormat("header line [%s] of type %d refused", strHeaderLine.c_str(), nHeaderType);
            return false;
        }
        m_vecAppendedHeaders.erase(std::remove_if(m_vecAppendedHeaders.begin(),
                                                  m_vecAppendedHeaders.end(),
                                                  [&](const std::string &strOld) {
                                                      return SameHeaderName(strOld, strLine);
                                                  }),
                                   m_vecAppendedHeaders.end());
        m_vecAppendedHeaders.push_back(strLine);
        m_strSetHeaderLine.clear();
        m_bHeaderListCurrent = false;
        return true;
    } catch (const std::exception &e) {
        m_strLastError = e.what();
        return false;
    }
}

bool TQLibCurl::BuildHeaderList() {
    if (m_bHeaderListCurrent) {
        return true;
    }
    curl_slist_free_all(m_pHeaderList);
    m_pHeaderList = nullptr;
    std::vector<std::string> vecLines;
    if (!m_strDefaultHeader.empty() &&
        std::none_of(m_vecAppendedHeaders.begin(), m_vecAppendedHeaders.end(),
                     [&](const std::string &strLine) {
                         return SameHeaderName(strLine, m_strDefaultHeader);
                     })) {
        vecLines.push_back(m_strDefaultHeader);
    }
    vecLines.insert(vecLines.end(), m_vecAppendedHeaders.begin(), m_vecAppendedHeaders.end());
    // Without this, libcurl waits for a "100 Continue" before sending a large body.
    auto isExpect = [](const std::string &strLine) { return SameHeaderName(strLine, "Expect"); };
    if (std::none_of(vecLines.begin(), vecLines.end(), isExpect)) {
        vecLines.push_back("Expect:");
    }
    for (const std::string &strLine : vecLines) {
        curl_slist *pNew = curl_slist_append(m_pHeaderList, strLine.c_str());
        if (!pNew) {
            return false;
        }
        m_pHeaderList = pNew;
    }
    m_bHeaderListCurrent = curl_easy_setopt(m_pCurl, CURLOPT_HTTPHEADER, m_pHeaderList) == CURLE_OK;
    return m_bHeaderListCurrent;
}

bool TQLibCurl::SetUserAgent(const std::string &strClientName) {
    if (m_bUserAgentSet && strClientName == m_strUserAgent) {
        return true;
    }
    m_bUserAgentSet = false;
    if (curl_easy_setopt(m_pCurl, CURLOPT_USERAGENT,
                         strClientName.empty() ? nullptr : strClientName.c_str()) != CURLE_OK) {
        return false;
    }
    m_strUserAgent = strClientName;
    m_bUserAgentSet = true;
    return true;
}
