// The option-bag translation: turns the bag that an initializer or the hosting job filled into the
// option record and the transmitter's configuration. Passed to the transmitter from startup/
// (transmitter/TransmitterAssembly.h), which runs it at Start and before an engine query.
#pragma once

#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "transmitter/TransmitterTypes.h"

class CTransmitterOptions;
struct CTransmitterConfiguration;

// For an index-engine transmitter: decides the job mode, makes the engine's addresses mandatory
// for file-system jobs, applies the platform settings that tune the failure policy, the queue
// wait and the performance log thread, and marks the configuration as translated. For an
// index-log transmitter (types 1 to 5): no key is mandatory and no platform setting is read;
// every key absent from the bag leaves the record's starting value, and the configuration is
// never marked, so that the translation runs again on every engine query.
//
// A value of another type than its key's keeps the default and is an error line; a value of the
// wrong type under an untyped key, or a collect-file count out of bounds, is error 87. Nothing
// thrown inside leaves: it comes back as 14 (no memory) or 87.
CKyError TranslateOptionBag(const CBag &bag, eIDX_Transmitter_Type eType,
                            CTransmitterOptions &options, CTransmitterConfiguration &config);
