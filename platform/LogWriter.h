// The process-wide log writer and the macros every unit logs through.
//
// A line of level N >= 0 is written only when the writer's level is at least N; level -1 marks
// errors and is always written. The default writer sends lines to the file named by IDX_LOG_FILE
// (stderr when unset) at the level in IDX_LOG_LEVEL (0 when unset).
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

#include <boost/shared_ptr.hpp>

#include "foundation/Export.h"

class IDX_EXPORT CLogWriterInterface {
public:
    virtual ~CLogWriterInterface() = default;

    virtual int GetLogLevel() const = 0;
    virtual void WriteLogV(int nLevel, const char *szFunction, int nLine, const char *szFormat,
                           va_list args) = 0;

    void WriteLog(int nLevel, const char *szFunction, int nLine, const char *szFormat, ...)
        __attribute__((format(printf, 5, 6)));

    bool IsLevelOn(int nLevel) const { return nLevel < 0 || GetLogLevel() >= nLevel; }
};

using CLogWriterInterfacePtr = boost::shared_ptr<CLogWriterInterface>;

// A writer that passes every line on to a target that can be replaced while other threads log.
// The level check reads a copy of the target's level (taken when the target is installed), so a
// line whose level is off costs one relaxed atomic load and no lock.
class IDX_EXPORT CRedirectableLogWriter : public CLogWriterInterface {
public:
    explicit CRedirectableLogWriter(CLogWriterInterfacePtr ptrTarget);

    int GetLogLevel() const override;
    void WriteLogV(int nLevel, const char *szFunction, int nLine, const char *szFormat,
                   va_list args) override;

    // Sends later lines to ptrTarget (none when null) and returns the previous target. A line
    // already on its way may still reach the previous one, which the caller's copy keeps alive.
    CLogWriterInterfacePtr Redirect(CLogWriterInterfacePtr ptrTarget);

private:
    static int LevelOf(const CLogWriterInterfacePtr &ptrTarget);

    std::atomic<int> m_nLevel;
    mutable std::mutex m_lock;
    CLogWriterInterfacePtr m_ptrTarget;
};

// Owned by the hosting process; set up from the environment on first use, as a redirectable
// writer in front of the file writer. IDX_LOG reads it without a lock, so the pointer itself is
// only replaced before any thread logs; to send lines elsewhere later, redirect the writer.
extern IDX_EXPORT CLogWriterInterfacePtr g_ptrLogWriter;

#define IDX_LOG(nLevel, ...)                                                                       \
    do {                                                                                           \
        if (g_ptrLogWriter && g_ptrLogWriter->IsLevelOn(nLevel)) {                                 \
            g_ptrLogWriter->WriteLog((nLevel), __PRETTY_FUNCTION__, __LINE__, __VA_ARGS__);        \
        }                                                                                          \
    } while (0)

#define IDX_LOG_ERROR(...) IDX_LOG(-1, __VA_ARGS__)

// Scoped function trace: logs entry and exit of a long operation when the level is high enough.
class IDX_EXPORT TQDebugFunction {
public:
    TQDebugFunction(const char *szFunction, int nLevel = 5);
    ~TQDebugFunction();
    TQDebugFunction(const TQDebugFunction &) = delete;
    TQDebugFunction &operator=(const TQDebugFunction &) = delete;

private:
    const char *m_szFunction;
    int m_nLevel;
    bool m_bActive;
};

#define IDX_TRACE_FUNCTION() TQDebugFunction idxTraceFunction_(__PRETTY_FUNCTION__)
