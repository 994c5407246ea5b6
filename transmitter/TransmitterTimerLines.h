// The log lines of the transmitter's own timers, which the end of a job (WaitAndCommit) and the
// performance log thread write: each line names its timer, says what the timer measured and gives
// the time with its unit, so that the end of a job reads without the source at hand.
#pragma once

class CSolrTransmitterPrivate;

// Writes at nLevel one line for each timer that exists and whose total is above
// g_dMetricMinVal, in this order: the collection of security information, the job thread's
// waits for a free queue slot, the workers' takes from the queue, the additional item properties
// and, with bGuidGeneration, the generation of file identifiers.
void LogTransmitterTimers(int nLevel, const CSolrTransmitterPrivate &state, bool bGuidGeneration);
