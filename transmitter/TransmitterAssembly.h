// What a transmitter takes from the layers above it: the worker factory (which worker class
// serves which transmitter type), the one-shot index-engine worker of the facade's engine
// requests, and the option-bag translation. The transmitter knows the workers only through their
// common base and the bag only through the translation, so that its layer links without the
// layers above it.
//
// startup/ passes them in (startup/TransmitterAssemblyRegistration.cpp): when the library is
// loaded, so that a host that makes its transmitter without an initializer gets them too, and
// again from each initializer. Set before any transmitter starts; read by any thread.
#pragma once

#include <boost/shared_ptr.hpp>

#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "transmitter/TransmitterTypes.h"

class CSolrTransmitterPrivate;
class CTransmitterOptions;
struct CTransmitterConfiguration;

// A worker of the transmitter's type for the shared state; an empty pointer when none could be
// made.
typedef IIdxTransmitterThreadPtr (*FnMakeTransmitterWorker)(
    const boost::shared_ptr<CSolrTransmitterPrivate> &ptrState);
// Fills the option record and the configuration from the bag of a transmitter of type eType.
// The configuration comes in with the values the bag may replace.
typedef CKyError (*FnTranslateOptionBag)(const CBag &bag, eIDX_Transmitter_Type eType,
                                         CTransmitterOptions &options,
                                         CTransmitterConfiguration &config);

struct STransmitterAssembly {
    FnMakeTransmitterWorker fnMakeWorker = nullptr;
    // An index-engine worker for one request, whatever the transmitter's type; never started.
    FnMakeTransmitterWorker fnMakeOneShotEngineWorker = nullptr;
    FnTranslateOptionBag fnTranslateOptionBag = nullptr;
};

void SetTransmitterAssembly(const STransmitterAssembly &assembly);
STransmitterAssembly GetTransmitterAssembly();
