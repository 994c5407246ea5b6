// The transmitter type and the shared-pointer names of the transmitter's main objects.
//
// Kept apart from the class headers so that every unit can name these objects without pulling in
// their declarations (and so that the headers that hold each other's pointers need no cycle).
#pragma once

#include <cstdint>

#include <boost/shared_ptr.hpp>

// Selects the worker class of a transmitter. Any other value falls back to the index-engine
// worker (with an error line), so the type is an open 32-bit number rather than a closed set.
enum eIDX_Transmitter_Type : int32_t {
    eIDX_Transmitter_Solr = 0,
    eIDX_Transmitter_LogWriter = 1,
    eIDX_Transmitter_VSA = 2,
    eIDX_Transmitter_BlkLvl = 3,
    eIDX_Transmitter_FSDirect = 4,
    eIDX_Transmitter_LiveCrawl = 5,
};

class CSolrTransmitter;
class CSolrTransmitterPrivate;
class IIdxTransmitterThread;
class CIdxTransmitterThread;
class CTransmitterOptions;
class CSolrTransmitterCallback;

typedef boost::shared_ptr<CSolrTransmitter> CSolrTransmitterPtr;
typedef boost::shared_ptr<CSolrTransmitterPrivate> CSolrTransmitterPrivatePtr;
typedef boost::shared_ptr<IIdxTransmitterThread> IIdxTransmitterThreadPtr;
typedef boost::shared_ptr<CTransmitterOptions> CTransmitterOptionsPtr;
typedef boost::shared_ptr<CSolrTransmitterCallback> CSolrTransmitterCallbackPtr;
