// The abort state of one transmitter: the one place that answers "is the transmitter aborted?"
// and "is the job's quit flag set?" for the facade, the queue, the workers, the senders and the
// end-of-job steps.
//
// The abort is sticky: once on it stays on. It is turned on by an abort (the facade's Abort, a
// worker's AbortThread) or by the test itself when the job's quit flag or its abort event says
// stop. Once on, the answer is one atomic read: no lock, no copy of a shared pointer. While it is
// off, the full test asks the job, one asker at a time (an in-process lock), so that concurrent
// tests wait for one quit query rather than all asking at once.
//
// Who may touch what: the job callback and the abort event are given on the job's thread before
// any worker starts (the option record's SetCallback and the option-bag translation) and only read
// afterwards; SetAborted and the tests are for every thread.
#pragma once

#include <atomic>
#include <mutex>

#include <boost/shared_ptr.hpp>

#include "transmitter/TransmitterCallback.h"

class FXEvent;

class CAbortState {
public:
    CAbortState() = default;
    CAbortState(const CAbortState &) = delete;
    CAbortState &operator=(const CAbortState &) = delete;

    // What an exception of the job's quit query (the job's own code) makes of the full test's
    // answer: passed on to the caller (which turns it into its error), or taken as "not aborted"
    // (the next test asks again), logged at error level ("Abort test failed, error=...") or not.
    // A worker's loop and the plug-in's abort check take it as "not aborted": left to the thread
    // framework it would end the worker without a word and leave the queue undrained.
    enum EJobFault { ePassOn, eNotAbortedLogged, eNotAbortedQuiet };

    // "Aborted?": the flag; while it is off, the job's quit flag and then its abort event (tested
    // without waiting), either of which turns the flag on.
    bool IsAborted(EJobFault eFault = ePassOn);
    // "Aborted?" without asking the job: the flag alone, for a test made many times a second.
    bool IsAbortFlagSet() const noexcept { return m_bAborted.load(std::memory_order_acquire); }
    // "Quit flag?": true only when a job callback is given and it reports the job's quit flag.
    // Changes nothing and takes no lock.
    bool IsQuitFlagSet() const;

    void SetAborted(bool bAborted);

    // Before any worker starts (see the top of this file).
    void SetCallback(const CSolrTransmitterCallbackPtr &ptrCallback) {
        m_ptrCallback = ptrCallback;
    }
    void SetAbortEvent(const boost::shared_ptr<FXEvent> &ptrAbortEvent) {
        m_ptrAbortEvent = ptrAbortEvent;
    }

private:
    bool AskJob();

    std::atomic<bool> m_bAborted{false};
    // Taken by the full test while the flag is off, and by SetAborted, so that a test that saw
    // the job say "go on" never turns the flag back on after an explicit change.
    std::mutex m_lockAskJob;
    CSolrTransmitterCallbackPtr m_ptrCallback;
    boost::shared_ptr<FXEvent> m_ptrAbortEvent;
};
