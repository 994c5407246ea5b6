#include "transmitter/TransmitterAssembly.h"

#include <atomic>

namespace {

// Each part on its own: a reader never needs two of them to agree.
std::atomic<FnMakeTransmitterWorker> g_fnMakeWorker{nullptr};
std::atomic<FnMakeTransmitterWorker> g_fnMakeOneShotEngineWorker{nullptr};
std::atomic<FnTranslateOptionBag> g_fnTranslateOptionBag{nullptr};

} // namespace

void SetTransmitterAssembly(const STransmitterAssembly &assembly) {
    g_fnMakeWorker.store(assembly.fnMakeWorker);
    g_fnMakeOneShotEngineWorker.store(assembly.fnMakeOneShotEngineWorker);
    g_fnTranslateOptionBag.store(assembly.fnTranslateOptionBag);
}

STransmitterAssembly GetTransmitterAssembly() {
    STransmitterAssembly assembly;
    assembly.fnMakeWorker = g_fnMakeWorker.load();
    assembly.fnMakeOneShotEngineWorker = g_fnMakeOneShotEngineWorker.load();
    assembly.fnTranslateOptionBag = g_fnTranslateOptionBag.load();
    return assembly;
}
