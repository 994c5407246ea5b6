// libcurl behind TQLibCurl: the transfers (the request, its body source, the answer, the
// cancel check) and the download of TqCurlReadStream. The handle and its options are set
// up in TQLibCurl.cpp.
#include "platform/TQLibCurl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <type_traits>

#include "platform/LogWriter.h"
#include "platform/StringFormat.h"

static_assert(std::is_same<curl_off_t, int64_t>::value,
              "the progress callback is declared with int64_t for curl_off_t");

namespace {

int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Failures that no retry can mend: the URL itself is what the client cannot use.
bool IsUnusableUrl(CURLcode eResult) {
    return eResult == CURLE_UNSUPPORTED_PROTOCOL || eResult == CURLE_URL_MALFORMAT ||
           eResult == CURLE_NOT_BUILT_IN;
}

} // namespace

bool TQLibCurl::TQLibCurlDynamiceTppmCheck(const std::string &strPingUrl,
                                           const std::string &strClientName,
                                           bool &bUseDynamicTppm) {
    bUseDynamicTppm = false;
    return Perform(0, strPingUrl, nullptr, 0, false, strClientName);
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
    const size_t nRoom = pThis->m_nMaxAnswerBytes - pThis->m_strAnswer.size();
    try {
        if (nBytes > nRoom) {
            // Either way the transfer ends here (a short count is CURLE_WRITE_ERROR): an answer
            // that does not stop must not hold the request for ever.
            if (pThis->m_bCutLongerAnswers) {
                pThis->m_strAnswer.append(pData, nRoom);
                pThis->m_bAnswerCut = true;
            } else {
                pThis->m_bAnswerTooLarge = true;
            }
            return 0;
        }
        pThis->m_strAnswer.append(pData, nBytes);
    } catch (...) {
        return 0;
    }
    return nBytes;
}

bool TQLibCurl::AskCancelCheck(const STransferState &state) {
    try {
        if (m_fnCancelCheck && m_fnCancelCheck(state)) {
            m_bCancelled = true;
            return true;
        }
    } catch (...) {
        // A check that cannot answer gives nothing up; the request's own limits still hold.
    }
    return false;
}

int TQLibCurl::OnTransferProgress(void *pContext, int64_t /*llDownTotal*/, int64_t llDownNow,
                                  int64_t /*llUpTotal*/, int64_t llUpNow) {
    TQLibCurl *pThis = static_cast<TQLibCurl *>(pContext);
    const int64_t llNowMs = SteadyMilliseconds();
    if (llDownNow + llUpNow != pThis->m_llBytesMoved) {
        pThis->m_llBytesMoved = llDownNow + llUpNow;
        pThis->m_llLastMoveMs = llNowMs;
    }
    // A non-zero result ends the transfer with CURLE_ABORTED_BY_CALLBACK.
    return pThis->AskCancelCheck(
               {false, llNowMs - pThis->m_llStartMs, llNowMs - pThis->m_llLastMoveMs})
               ? 1
               : 0;
}

void TQLibCurl::ClearAnswer() {
    // A large answer's memory is not kept for the life of the handle.
    if (m_strAnswer.capacity() > 1024 * 1024) {
        std::string().swap(m_strAnswer);
    }
    m_strAnswer.clear();
    m_bHasAnswer = false;
    m_bAnswerTooLarge = false;
    m_bAnswerCut = false;
}

bool TQLibCurl::TQLibCurlSendHttpReqFromSource(const std::string &strUrl, CBodySource &source,
                                               bool bFollowRedirects,
                                               const std::string &strClientName,
                                               bool bUseDynamicTppm) {
    (void)bUseDynamicTppm;
    return Perform(1, strUrl, nullptr, 0, bFollowRedirects, strClientName, &source);
}

size_t TQLibCurl::OnBodyBytes(char *pBuffer, size_t nSize, size_t nCount, void *pContext) {
    TQLibCurl *pThis = static_cast<TQLibCurl *>(pContext);
    const uint64_t ullWant = std::min<uint64_t>(nSize * nCount, pThis->m_ullBodyLeft);
    if (ullWant == 0) {
        return 0;
    }
    int64_t llRead = -1;
    try {
        llRead = pThis->m_pBodySource->Read(pBuffer, static_cast<size_t>(ullWant));
    } catch (...) {
    }
    // A body that ends early would leave the engine waiting for bytes that never come.
    if (llRead <= 0 || static_cast<uint64_t>(llRead) > ullWant) {
        pThis->m_bBodyFailed = true;
        return CURL_READFUNC_ABORT;
    }
    pThis->m_ullBodyLeft -= static_cast<uint64_t>(llRead);
    return static_cast<size_t>(llRead);
}

bool TQLibCurl::Perform(int nRequestType, const std::string &strUrl, const char *pBody,
                        size_t nLength, bool bFollowRedirects, const std::string &strClientName,
                        CBodySource *pSource) {
    try {
        m_pBodySource = pSource;
        m_ullBodyLeft = pSource ? pSource->GetSize() : 0;
        m_bBodyFailed = false;
        ClearAnswer();
        m_llHttpStatus = 0;
        m_szCurlError[0] = '\0';
        m_eLastFailure = EFailure::eLocal;
        m_bCancelled = false;
        m_llBytesMoved = 0;
        m_llStartMs = SteadyMilliseconds();
        m_llLastMoveMs = m_llStartMs;
        if (!m_pCurl) {
            m_strLastError = "curl handle not initialised";
            return false;
        }
        if (nRequestType != 0 && nRequestType != 1) {
            m_strLastError = FXFormat("unknown request type %d", nRequestType);
            return false;
        }
        bool bOk = BuildHeaderList() &&
                   curl_easy_setopt(m_pCurl, CURLOPT_URL, strUrl.c_str()) == CURLE_OK &&
                   curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, bFollowRedirects ? 1L : 0L) ==
                       CURLE_OK &&
                   SetUserAgent(strClientName);
        if (bOk && pSource) {
            if (!pSource->Rewind()) {
                m_eLastFailure = EFailure::eBodyUnreadable;
                m_strLastError = "the request body cannot be read from its start";
                return false;
            }
            // Without fields of its own the POST takes its body from the read callback.
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_POST, 1L) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, nullptr) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                                   static_cast<curl_off_t>(m_ullBodyLeft)) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_READFUNCTION, &TQLibCurl::OnBodyBytes) ==
                      CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_READDATA, this) == CURLE_OK;
        } else if (bOk && nRequestType == 1) {
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_POST, 1L) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                                   static_cast<curl_off_t>(nLength)) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, pBody ? pBody : "") == CURLE_OK;
        } else if (bOk) {
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_HTTPGET, 1L) == CURLE_OK;
        }
        if (bOk && m_fnCancelCheck) {
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_XFERINFOFUNCTION,
                                   &TQLibCurl::OnTransferProgress) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_XFERINFODATA, this) == CURLE_OK &&
                  curl_easy_setopt(m_pCurl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
        } else if (bOk) {
            bOk = curl_easy_setopt(m_pCurl, CURLOPT_NOPROGRESS, 1L) == CURLE_OK;
        }
        if (!bOk) {
            m_strLastError = FXFormat("failed to prepare the request: %s", m_szCurlError);
            return false;
        }

        // A request asked to end before it starts is not sent at all.
        if (m_fnCancelCheck && AskCancelCheck({true, 0, 0})) {
            m_eLastFailure = EFailure::eCancelled;
            m_strLastError = "request cancelled before it was sent";
            IDX_LOG(6, "HTTP request not sent, url=[%s], error=%s", strUrl.c_str(),
                    m_strLastError.c_str());
            return false;
        }

        CURLcode eResult = curl_easy_perform(m_pCurl);
        long nStatus = 0;
        curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
        m_llHttpStatus = nStatus;
        // A cut answer ended the transfer on purpose: the exchange counts by its status.
        const bool bCut = m_bAnswerCut && eResult == CURLE_WRITE_ERROR && nStatus != 0;
        if (eResult != CURLE_OK && !bCut) {
            if (m_bBodyFailed) {
                m_eLastFailure = EFailure::eBodyUnreadable;
            } else if (m_bCancelled || eResult == CURLE_ABORTED_BY_CALLBACK) {
                m_eLastFailure = EFailure::eCancelled;
            } else if (IsUnusableUrl(eResult)) {
                m_eLastFailure = EFailure::eUnusableUrl;
            } else {
                m_eLastFailure = EFailure::eTransport;
            }
            if (m_bAnswerTooLarge) {
                m_strLastError =
                    FXFormat("answer larger than %zu bytes refused", m_nMaxAnswerBytes);
            } else if (m_eLastFailure == EFailure::eBodyUnreadable) {
                m_strLastError = "the request body could not be read while it was sent";
            } else if (m_eLastFailure == EFailure::eCancelled) {
                m_strLastError = "request cancelled while in progress";
            } else if (*m_szCurlError) {
                m_strLastError = FXFormat("%s (curl error %d: %s)", m_szCurlError,
                                          static_cast<int>(eResult), curl_easy_strerror(eResult));
            } else {
                m_strLastError = FXFormat("curl error %d: %s", static_cast<int>(eResult),
                                          curl_easy_strerror(eResult));
            }
            ClearAnswer();
            IDX_LOG(6, "HTTP request failed, url=[%s], status=[%ld], error=%s", strUrl.c_str(),
                    nStatus, m_strLastError.c_str());
            return false;
        }
        m_bHasAnswer = true;
        if (bCut) {
            IDX_LOG(2, "HTTP answer cut to its first %zu bytes, url=[%s], status=[%ld]",
                    m_strAnswer.size(), strUrl.c_str(), nStatus);
        }
        if (nStatus < 200 || nStatus > 299) {
            m_eLastFailure = EFailure::eHttpStatus;
            m_strLastError = FXFormat("HTTP status %ld", nStatus);
            return false;
        }
        m_eLastFailure = EFailure::eNone;
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
        curl.SetCancelCheck(m_fnCancelCheck);
        bool bSent =
            curl.TQLibCurlInit("Content-Type: text/xml", false, true, &WriteToFile, &sink) &&
            curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1) &&
            curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_LOW_SPEED_LIMIT,
                                                       m_nIdleBytesPerSecond) &&
            curl.TQLibCurlSetAdditionalOptionsIntValue(CURLOPT_LOW_SPEED_TIME, m_nIdleSeconds) &&
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