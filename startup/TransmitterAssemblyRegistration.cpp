#include "startup/TransmitterAssemblyRegistration.h"

#include "engine/OneShotEngineWorker.h"
#include "logwriter/TransmitterWorkerFactory.h"
#include "startup/OptionBagTranslation.h"
#include "transmitter/TransmitterAssembly.h"

int g_nIdxTransmitterAssemblyAnchor = 0;

void RegisterTransmitterAssembly() {
    STransmitterAssembly assembly;
    assembly.fnMakeWorker = &MakeTransmitterWorker;
    assembly.fnMakeOneShotEngineWorker = &MakeOneShotEngineWorker;
    assembly.fnTranslateOptionBag = &TranslateOptionBag;
    SetTransmitterAssembly(assembly);
}

namespace {

// At load: the registration only stores three function pointers, so it depends on no other
// object being made first.
struct CRegisterAtLoad {
    CRegisterAtLoad() { RegisterTransmitterAssembly(); }
} g_registerAtLoad;

} // namespace
