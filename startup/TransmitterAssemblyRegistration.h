// Passes the transmitter what it takes from the layers above it
// (transmitter/TransmitterAssembly.h): the worker factory, the one-shot index-engine worker and the
// option-bag translation. Done when the library is loaded, so that a host that makes its
// transmitter without an initializer gets them, and again by each initializer before it makes a
// transmitter.
#pragma once

void RegisterTransmitterAssembly();

// Referenced by name at link time, so that a program linked with the library's static archive
// keeps the unit that registers at load (the CMake target idxtransmitter_internal asks for it).
extern "C" int g_nIdxTransmitterAssemblyAnchor;
