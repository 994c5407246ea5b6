// The file to which a stand-in service appends what it receives when an operator names one
// (IDX_JOB_EVENTS, IDX_WEBSERVICE_CALLS, IDX_INDEX_SERVER_LOG): one line per record, the file
// opened for each line so that it can be read, moved or removed while the job runs. Not
// thread-safe: each store appends under its own lock.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/LogWriter.h"

class CAppendedRecordFile {
public:
    // szWhat names the records in the failure's log line ("job events", ...).
    explicit CAppendedRecordFile(const char *szWhat) : m_szWhat(szWhat) {}

    // Appends strLine, which ends with its line break. A failure is logged once per file, not
    // once per line; the line is then lost, as the file is the record the operator asked for.
    void Append(const char *szFile, const std::string &strLine) {
        FILE *pFile = fopen(szFile, "ae");
        bool bWritten =
            pFile != nullptr && fwrite(strLine.data(), 1, strLine.size(), pFile) == strLine.size();
        int nErrNo = errno;
        if (pFile != nullptr && fclose(pFile) != 0) {
            bWritten = false;
            nErrNo = errno;
        }
        if (!bWritten && m_strFailedFile != szFile) {
            m_strFailedFile = szFile;
            IDX_LOG_ERROR("Failed to append %s to [%s], error=%s", m_szWhat, szFile,
                          strerror(nErrNo));
        }
    }
    // Forgets the file whose failure was logged.
    void Reset() { m_strFailedFile.clear(); }

private:
    const char *m_szWhat;
    std::string m_strFailedFile; // the file whose failure was already logged
};
