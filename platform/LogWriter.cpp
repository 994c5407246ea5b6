#include "platform/LogWriter.h"

#include <boost/make_shared.hpp>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <sys/time.h>

#include "platform/StringFormat.h"

void CLogWriterInterface::WriteLog(int nLevel, const char *szFunction, int nLine,
                                   const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    WriteLogV(nLevel, szFunction, nLine, szFormat, args);
    va_end(args);
}

namespace {

// Writes one line per call: time, thread id, level, function, line, text.
class CFileLogWriter : public CLogWriterInterface {
public:
    CFileLogWriter() {
        const char *szLevel = getenv("IDX_LOG_LEVEL");
        m_nLevel = szLevel ? atoi(szLevel) : 0;
        const char *szFile = getenv("IDX_LOG_FILE");
        if (szFile && *szFile) {
            m_pFile = fopen(szFile, "a");
        }
        m_bOwnsFile = m_pFile != nullptr;
        if (!m_pFile) {
            m_pFile = stderr;
        }
    }
    ~CFileLogWriter() override {
        if (m_bOwnsFile) {
            fclose(m_pFile);
        }
    }

    int GetLogLevel() const override { return m_nLevel; }

    void WriteLogV(int nLevel, const char *szFunction, int nLine, const char *szFormat,
                   va_list args) override {
        std::string strText = FXFormatV(szFormat, args);
        struct timeval tv;
        gettimeofday(&tv, nullptr);
        struct tm tmLocal;
        localtime_r(&tv.tv_sec, &tmLocal);
        char szTime[64];
        strftime(szTime, sizeof(szTime), "%Y-%m-%d %H:%M:%S", &tmLocal);
        std::lock_guard<std::mutex> guard(m_lock);
        fprintf(m_pFile, "%s.%03ld %lu %d %s %d %s\n", szTime, static_cast<long>(tv.tv_usec / 1000),
                static_cast<unsigned long>(pthread_self()) & 0xFFFFFFFFul, nLevel,
                szFunction ? szFunction : "", nLine, strText.c_str());
        fflush(m_pFile);
    }

private:
    int m_nLevel = 0;
    FILE *m_pFile = nullptr;
    bool m_bOwnsFile = false;
    std::mutex m_lock;
};

} // namespace

CRedirectableLogWriter::CRedirectableLogWriter(CLogWriterInterfacePtr ptrTarget)
    : m_nLevel(LevelOf(ptrTarget)), m_ptrTarget(std::move(ptrTarget)) {}

int CRedirectableLogWriter::LevelOf(const CLogWriterInterfacePtr &ptrTarget) {
    // Without a target nothing is written, so no line of level 0 or more is even formatted.
    return ptrTarget ? ptrTarget->GetLogLevel() : INT_MIN;
}

int CRedirectableLogWriter::GetLogLevel() const {
    return m_nLevel.load(std::memory_order_relaxed);
}

void CRedirectableLogWriter::WriteLogV(int nLevel, const char *szFunction, int nLine,
                                       const char *szFormat, va_list args) {
    CLogWriterInterfacePtr ptrTarget;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ptrTarget = m_ptrTarget;
    }
    // The level seen by the caller may belong to a target replaced since; the current one decides.
    if (ptrTarget && ptrTarget->IsLevelOn(nLevel)) {
        ptrTarget->WriteLogV(nLevel, szFunction, nLine, szFormat, args);
    }
}

CLogWriterInterfacePtr CRedirectableLogWriter::Redirect(CLogWriterInterfacePtr ptrTarget) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nLevel.store(LevelOf(ptrTarget), std::memory_order_relaxed);
    m_ptrTarget.swap(ptrTarget);
    return ptrTarget;
}

CLogWriterInterfacePtr g_ptrLogWriter =
    boost::make_shared<CRedirectableLogWriter>(boost::make_shared<CFileLogWriter>());

TQDebugFunction::TQDebugFunction(const char *szFunction, int nLevel)
    : m_szFunction(szFunction), m_nLevel(nLevel),
      m_bActive(g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(nLevel)) {
    if (m_bActive) {
        g_ptrLogWriter->WriteLog(m_nLevel, m_szFunction, 0, "%s", "Entering");
    }
}

TQDebugFunction::~TQDebugFunction() {
    if (m_bActive && g_ptrLogWriter) {
        g_ptrLogWriter->WriteLog(m_nLevel, m_szFunction, 0, "%s", "Leaving");
    }
}
