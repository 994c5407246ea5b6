// Test control: captures log lines in memory while an instance lives, at a chosen level.
// Redirects the process writer (g_ptrLogWriter itself never changes, so workers that log while a
// capture comes or goes stay safe) and restores the previous target when destroyed. Never used
// by the library itself.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Export.h"
#include "platform/LogWriter.h"

namespace idxtest {

struct CapturedLogLine {
    int nLevel;
    std::string strFunction;
    int nLine;
    std::string strText;
};

class IDX_EXPORT LogCapture {
public:
    explicit LogCapture(int nLevel = 7);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<CapturedLogLine> Lines() const;
    // Number of captured lines whose text contains szNeedle.
    size_t Count(const std::string &strNeedle) const;
    bool Contains(const std::string &strNeedle) const { return Count(strNeedle) > 0; }
    // Number of captured lines whose text contains szNeedle at exactly that level.
    size_t CountAtLevel(const std::string &strNeedle, int nLevel) const;
    void Clear();
    // Calls fnObserver with each line the capture takes, on the thread that logs it, one call at
    // a time, so that a test can act at the moment the library logs something instead of polling
    // for it. An empty function ends the calls; once SetObserver returns, no call of the previous
    // observer is in progress. The observer must not log.
    void SetObserver(std::function<void(const CapturedLogLine &)> fnObserver);

private:
    class Writer;
    boost::shared_ptr<Writer> m_ptrWriter;
    boost::shared_ptr<CRedirectableLogWriter> m_ptrProcessWriter;
    CLogWriterInterfacePtr m_ptrPrevious;
};

} // namespace idxtest
