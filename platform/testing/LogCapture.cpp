#include "platform/testing/LogCapture.h"

#include <boost/make_shared.hpp>

#include "platform/StringFormat.h"

namespace idxtest {

class LogCapture::Writer : public CLogWriterInterface {
public:
    explicit Writer(int nLevel) : m_nLevel(nLevel) {}
    int GetLogLevel() const override { return m_nLevel; }
    void WriteLogV(int nLevel, const char *szFunction, int nLine, const char *szFormat,
                   va_list args) override {
        CapturedLogLine line{nLevel, szFunction ? szFunction : "", nLine,
                             FXFormatV(szFormat, args)};
        {
            std::lock_guard<std::mutex> guard(m_lockObserver);
            if (m_fnObserver) {
                m_fnObserver(line);
            }
        }
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecLines.push_back(std::move(line));
    }

    int m_nLevel;
    mutable std::mutex m_lock;
    std::vector<CapturedLogLine> m_vecLines;
    // Held while the observer runs, so that it is replaced only between two calls.
    std::mutex m_lockObserver;
    std::function<void(const CapturedLogLine &)> m_fnObserver;
};

namespace {

// The process writer is redirectable from start-up. Should a host have put a plain writer in its
// place, that writer is wrapped once; the swap of the global is then as safe as the host's own.
boost::shared_ptr<CRedirectableLogWriter> ProcessWriter() {
    auto ptrWriter = boost::dynamic_pointer_cast<CRedirectableLogWriter>(g_ptrLogWriter);
    if (!ptrWriter) {
        ptrWriter = boost::make_shared<CRedirectableLogWriter>(g_ptrLogWriter);
        g_ptrLogWriter = ptrWriter;
    }
    return ptrWriter;
}

} // namespace

LogCapture::LogCapture(int nLevel)
    : m_ptrWriter(boost::make_shared<Writer>(nLevel)), m_ptrProcessWriter(ProcessWriter()) {
    m_ptrPrevious = m_ptrProcessWriter->Redirect(m_ptrWriter);
}

LogCapture::~LogCapture() {
    m_ptrProcessWriter->Redirect(m_ptrPrevious);
}

std::vector<CapturedLogLine> LogCapture::Lines() const {
    std::lock_guard<std::mutex> guard(m_ptrWriter->m_lock);
    return m_ptrWriter->m_vecLines;
}

size_t LogCapture::Count(const std::string &strNeedle) const {
    std::lock_guard<std::mutex> guard(m_ptrWriter->m_lock);
    size_t nCount = 0;
    for (const auto &line : m_ptrWriter->m_vecLines) {
        if (line.strText.find(strNeedle) != std::string::npos) {
            ++nCount;
        }
    }
    return nCount;
}

size_t LogCapture::CountAtLevel(const std::string &strNeedle, int nLevel) const {
    std::lock_guard<std::mutex> guard(m_ptrWriter->m_lock);
    size_t nCount = 0;
    for (const auto &line : m_ptrWriter->m_vecLines) {
        if (line.nLevel == nLevel && line.strText.find(strNeedle) != std::string::npos) {
            ++nCount;
        }
    }
    return nCount;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> guard(m_ptrWriter->m_lock);
    m_ptrWriter->m_vecLines.clear();
}

void LogCapture::SetObserver(std::function<void(const CapturedLogLine &)> fnObserver) {
    std::lock_guard<std::mutex> guard(m_ptrWriter->m_lockObserver);
    m_ptrWriter->m_fnObserver = std::move(fnObserver);
}

} // namespace idxtest
