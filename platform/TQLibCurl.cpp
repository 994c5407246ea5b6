// libcurl behind TQLibCurl and TqCurlReadStream.
#include "platform/TQLibCurl.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "platform/LogWriter.h"
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
    : m_pCurl(nullptr), m_pHeaderList(nullptr), m_pWriteCallback(nullptr), m_pWriteContext(nullptr),
      m_bHasAnswer(false), m_bAnswerTooLarge(false), m_nMaxAnswerBytes(kDefaultMaxAnswerBytes),
      m_llHttpStatus(0) {
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
        m_vecAppendedHeaders.clear();
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

bool TQLibCurl::TQLibCurlSetAdditionalOptionsIntValue(CURLoption eOption, long nValue) {
    if (!m_pCurl) {
        m_strLastError = "curl handle not initialised";
        return false;
    }
    // libcurl numbers its integer options below CURLOPTTYPE_OBJECTPOINT; anything else expects
    // a pointer or a 64-bit offset and must not be handed a long.
    if (eOption <= 0 || eOption >= CURLOPTTYPE_OBJECTPOINT) {
        m_strLastError =
            FXFormat("curl option %d does not take an integer", static_cast<int>(eOption));
        return false;
    }
    CURLcode eResult = curl_easy_setopt(m_pCurl, eOption, nValue);
    if (eResult != CURLE_OK) {
        m_strLastError = FXFormat("failed to set curl option %d: %s", static_cast<int>(eOption),
                                  curl_easy_strerror(eResult));
        return false;
    }
    return true;
}

bool TQLibCurl::TQLibCurlDynamiceTppmCheck(const std::string &strPingUrl,
                                           const std::string &strClientName,
                                           bool &bUseDynamicTppm) {
    bUseDynamicTppm = false;
    return Perform(0, strPingUrl, nullptr, 0, false, strClientName);
}

void TQLibCurl::TQLibCurlFreeHttpHeaderList() {
    m_vecAppendedHeaders.clear();
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
        return true;
    } catch (const std::exception &e) {
        m_strLastError = e.what();
        return false;
    }
}

bool TQLibCurl::TQLibCurlSendHttpReq2(int nRequestType, const std::string &strUrl,
                                      const char *pBody, size_t nLength, bool bFollowRedirects,
                                      const std::string &strClientName, bool bUseDynamicTppm) {
    // Only the direct route exists here (see TQLibCurlDynamiceTppmCheck).
    (void)bUseDynamicTppm;
    return Perform(nRequestType, strUrl, pBody, nLength, bFollowRedirects, strClientName);
}

const char *TQLibCurl::GetHttpResponse(size_t &nLength, bool bAfterCheck) {
    (void)bAfterCheck;
    if (!m_bHasAnswer) {
        nLength = 0;
        return nullptr;
    }
    nLength = m_strAnswer.size();
    return m_strAnswer.c_str();
}

size_t TQLibCurl::OnAnswerBytes(char *pData, size_t nSize, size_t nCount, void *pContext) {
    TQLibCurl *pThis = static_cast<TQLibCurl *>(pContext);
    size_t nBytes = nSize * nCount;
    if (nBytes > pThis->m_nMaxAnswerBytes - pThis->m_strAnswer.size()) {
        pThis->m_bAnswerTooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    try {
        pThis->m_strAnswer.append(pData, nBytes);
    } catch (...) {
        return 0;
    }
    return nBytes;
}

void TQLibCurl::ClearAnswer() {
    // A large answer's memory is not kept for the life of the handle.
    if (m_strAnswer.capacity() > 1024 * 1024) {
        std::string().swap(m_strAnswer);
    }
    m_strAnswer.clear();
    m_bHasAnswer = false;
    m_bAnswerTooLarge = false;
}

bool TQLibCurl::BuildHeaderList() {
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
    return curl_easy_setopt(m_pCurl, CURLOPT_HTTPHEADER, m_pHeaderList) == CURLE_OK;
}

bool TQLibCurl::Perform(int nRequestType, const std::string &strUrl, const char *pBody,
                        size_t nLength, bool bFollowRedirects, const std::string &strClientName) {
    try {
        ClearAnswer();
        m_llHttpStatus = 0;
        m_szCurlError[0] = '\0';
        if (!m_pCurl) {
            m_strLastError = "curl handle not initialised";
            return false;
        }
        if (nRequestType != 0 && nRequestType != 1) {
            m_strLastError = FXFormat("unknown request type %d", nRequestType);
            return false;
        }
        bool bOk =
            BuildHeaderList() &&
            curl_easy_setopt(m_pCurl, CURLOPT_URL, strUrl.c_str()) == CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, bFollowRedirects ? 1L : 0L) ==
                CURLE_OK &&
            curl_easy_setopt(m_pCurl, CURLOPT_USERAGENT,
                             strClientName.empty() ? nullptr : strClientName.c_str()) == CURLE_OK;
        if (bOk && nRequestType == 1) {
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_POST, 1L) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                                   static_cast<curl_off_t>(nLength)) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, pBody ? pBody : "") == CURLE_OK;
        } else if (bOk) {
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_HTTPGET, 1L) == CURLE_OK;
        }
        if (!bOk) {
            m_strLastError = FXFormat("failed to prepare the request: %s", m_szCurlError);
            return false;
        }

        CURLcode eResult = curl_easy_perform(m_pCurl);
        long nStatus = 0;
        curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
        m_llHttpStatus = nStatus;
        if (eResult != CURLE_OK) {
            m_strLastError =
                m_bAnswerTooLarge
                    ? FXFormat("answer larger than %zu bytes refused", m_nMaxAnswerBytes)
                    : std::string(*m_szCurlError ? m_szCurlError : curl_easy_strerror(eResult));
            ClearAnswer();
            IDX_LOG(6, "HTTP request failed, url=[%s], status=[%ld], error=%s", strUrl.c_str(),
                    nStatus, m_strLastError.c_str());
            return false;
        }
        m_bHasAnswer = true;
        if (nStatus < 200 || nStatus > 299) {
            m_strLastError = FXFormat("HTTP status %ld", nStatus);
            return false;
        }
        m_strLastError.clear();
        return true;
    } catch (const std::exception &e) {
        m_strLastError = e.what();
        ClearAnswer();
        return false;
    }
}

namespace {

// Where a download's answer goes, and what went wrong writing it.
struct SDownloadSink {
    FILE *pFile;
    int nErrNo;
};

size_t WriteToFile(char *pData, size_t nSize, size_t nCount, void *pContext) {
    SDownloadSink *pSink = static_cast<SDownloadSink *>(pContext);
    size_t nWritten = fwrite(pData, nSize, nCount, pSink->pFile);
    if (nWritten != nCount && pSink->nErrNo == 0) {
        pSink->nErrNo = errno ? errno : EIO;
    }
    return nWritten * nSize;
}

} // namespace

CKyError TqCurlReadStream::Download(const std::string &strOutputPath, const std::string &strUrl,
                                    const std::string &strRequest) {
    try {
        SDownloadSink sink{fopen(strOutputPath.c_str(), "wb"), 0};
        if (!sink.pFile) {
            return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to open download file [%s]",
                                           strOutputPath.c_str());
        }
        TQLibCurl curl;
        bool bSent =
            curl.TQLibCurlInit("Content-Type: text/xml", false, true, &WriteToFile, &sink) &&
            curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1) &&
            curl.TQLibCurlSendHttpReq2(1, strUrl, strRequest.data(), strRequest.size(), false,
                                       std::string(), false);
        if (fclose(sink.pFile) != 0 && sink.nErrNo == 0) {
            sink.nErrNo = errno ? errno : EIO;
        }
        if (bSent && sink.nErrNo == 0) {
            return CKyError::Success();
        }
        remove(strOutputPath.c_str());
        if (sink.nErrNo != 0) {
            return FXErrorUtil::ErrorErrNo(FXLOC, sink.nErrNo,
                                           "Failed to write download file [%s] from URL [%s]",
                                           strOutputPath.c_str(), strUrl.c_str());
        }
        return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                       "Download from URL [%s] failed, HTTP status=[%lld], "
                                       "error=%s",
                                       strUrl.c_str(),
                                       static_cast<long long>(curl.GetHttpErrorCode()),
                                       curl.GetLastErrorText().c_str());
    } catch (const std::exception &e) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "Download from URL [%s] failed: %s",
                                       strUrl.c_str(), e.what());
    }
}
