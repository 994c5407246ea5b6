// The timing totals and counts of one index-engine worker, as the performance log thread collects
// them from every worker of a transmitter and sums them. A plain record, all zero when made.
#pragma once

#include <cstdint>

// Times at or below this many seconds are not worth a log line.
constexpr double g_dMetricMinVal = 0.1;

struct SolrThreadPerfCounters {
    // Timer totals in seconds.
    double m_dPostRequest = 0;
    double m_dReadContent = 0;
    double m_dGenerateCRC32 = 0;
    double m_dSendVMItemsToWebService = 0;
    double m_dChangeTime = 0;
    double m_dSendItems = 0;
    double m_dBuildItems = 0;
    double m_dOwnerAndAcl = 0;
    // Items in the posts of the metadata sender, and the number of those posts.
    int64_t m_llTransmittedItems = 0;
    int64_t m_llPackets = 0;
    // Samples of the "BuildItems" timer (documents built) and of the "SendItems" timer (sends).
    int64_t m_llBuilds = 0;
    int64_t m_llSends = 0;
};
