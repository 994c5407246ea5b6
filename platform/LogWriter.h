// The process-wide log writer and the macros every unit logs through.
//
// A line of level N >= 0 is written only when the writer's level is at least N; level -1 marks
// errors and is always written. The default writer sends lines to the file named by IDX_LOG_FILE
// (stderr when unset) at the level in IDX_LOG_LEVEL (0 when unset).
#pragma once

#include <cstdarg>
#include <string>

#include <boost/shared_ptr.hpp>

class CLogWriterInterface {
public:
    virtual ~CLogWriterInterface() = default;

    virtual int GetLogLevel() const = 0;
    virtual void WriteLogV(int nLevel, const char* szFunction, int nLine, const char* szFormat,
                           va_list args) = 0;

    void WriteLog(int nLevel, const char* szFunction, int nLine, const char* szFormat, ...)
        __attribute__((format(printf, 5, 6)));

    bool IsLevelOn(int nLevel) const { return nLevel < 0 || GetLogLevel() >= nLevel; }
};

using CLogWriterInterfacePtr = boost::shared_ptr<CLogWriterInterface>;

// Owned by the hosting process; set up from the environment on first use.
extern CLogWriterInterfacePtr g_ptrLogWriter;

#define IDX_LOG(nLevel, ...)                                                                    \
    do {                                                                                        \
        if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(nLevel)) {                              \
            g_ptrLogWriter->WriteLog((nLevel), __PRETTY_FUNCTION__, __LINE__, __VA_ARGS__);     \
        }                                                                                       \
    } while (0)

#define IDX_LOG_ERROR(...) IDX_LOG(-1, __VA_ARGS__)

// Scoped function trace: logs entry and exit of a long operation when the level is high enough.
class TQDebugFunction {
public:
    TQDebugFunction(const char* szFunction, int nLevel = 5);
    ~TQDebugFunction();
    TQDebugFunction(const TQDebugFunction&) = delete;
    TQDebugFunction& operator=(const TQDebugFunction&) = delete;

private:
    const char* m_szFunction;
    int m_nLevel;
    bool m_bActive;
};

#define IDX_TRACE_FUNCTION() TQDebugFunction idxTraceFunction_(__PRETTY_FUNCTION__)
