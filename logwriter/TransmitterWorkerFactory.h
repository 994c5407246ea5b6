// The worker factory of the transmitter: the worker class that serves the transmitter's type,
// made for its shared state. Passed to the transmitter from startup/
// (transmitter/TransmitterAssembly.h).
#pragma once

#include "transmitter/TransmitterTypes.h"

// An unknown type is served by the index-engine worker (an error line says so). Empty when the
// worker could not be made.
IIdxTransmitterThreadPtr MakeTransmitterWorker(const CSolrTransmitterPrivatePtr &ptrState);
