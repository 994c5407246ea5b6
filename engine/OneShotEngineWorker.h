// The index-engine worker of the transmitter's one-shot requests (clear, prune, sync, ping),
// whatever the transmitter's type: made for one call and never started. Passed to the
// transmitter from startup/ (transmitter/TransmitterAssembly.h).
#pragma once

#include "transmitter/TransmitterTypes.h"

// Empty when the worker could not be made.
IIdxTransmitterThreadPtr MakeOneShotEngineWorker(const CSolrTransmitterPrivatePtr &ptrState);
