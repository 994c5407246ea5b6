#include "startup/IdxLogWriterLiveCrawlInit.h"

CIdxLogWriterLiveCrawlInit::CIdxLogWriterLiveCrawlInit() {}

CIdxLogWriterLiveCrawlInit::~CIdxLogWriterLiveCrawlInit() {}

CKyError CIdxLogWriterLiveCrawlInit::GetTransmitterObj(CSolrTransmitterPtr &ptrTransmitter) {
    return MakeTransmitter(eIDX_Transmitter_LiveCrawl, ptrTransmitter);
}
