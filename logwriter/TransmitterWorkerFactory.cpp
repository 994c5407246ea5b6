// The worker factory of the transmitter: which worker class serves which transmitter type. It
// lives in the top layer, beside the last of the workers it makes, so that it sees every worker
// class while the transmitter itself knows them only through their common base.
#include <cstdint>

#include "documents/ItemSenderFactory.h"
#include "engine/SolrTransmitterThread.h"
#include "foundation/MakeSharedNothrow.h"
#include "logwriter/IdxLogWriterLiveCrawlThread.h"
#include "logwriter/IdxLogWriterThread.h"
#include "logwriter/IdxLogWriterThreadBlkLvl.h"
#include "logwriter/IdxLogWriterThreadFSDirect.h"
#include "logwriter/IdxLogWriterThreadVSA.h"
#include "platform/LogWriter.h"
#include "transmitter/SolrTransmitter.h"
#include "transmitter/SolrTransmitterPrivate.h"

IIdxTransmitterThreadPtr CSolrTransmitter::GetIdxTransmitterThreadObj() {
    CSolrTransmitterPrivate &state = *m_ptrSolrTransmitterPrivate;
    const int32_t nType = static_cast<int32_t>(state.m_eTransmitterType);
    IIdxTransmitterThreadPtr ptrWorker;

    switch (nType) {
    case eIDX_Transmitter_Solr:
        ptrWorker = boost::make_shared_nothrow<CSolrTransmitterThread>(
            m_ptrSolrTransmitterPrivate, state.m_ptrOptions, &MakeItemSender);
        break;
    case eIDX_Transmitter_LogWriter:
        IDX_LOG(2, "Instantiating LogWriter thread");
        ptrWorker = boost::make_shared_nothrow<CIdxLogWriterThread>(m_ptrSolrTransmitterPrivate,
                                                                    state.m_ptrOptions);
        break;
    case eIDX_Transmitter_VSA:
        IDX_LOG(2, "Instantiating VSA LogWriter thread");
        ptrWorker = boost::make_shared_nothrow<CIdxLogWriterThreadVSA>(m_ptrSolrTransmitterPrivate,
                                                                       state.m_ptrOptions);
        break;
    case eIDX_Transmitter_BlkLvl:
        IDX_LOG(2, "Instantiating block level LogWriter thread");
        ptrWorker = boost::make_shared_nothrow<CIdxLogWriterThreadBlkLvl>(
            m_ptrSolrTransmitterPrivate, state.m_ptrOptions);
        break;
    case eIDX_Transmitter_FSDirect:
        IDX_LOG(2, "Instantiating FS Direct LogWriter thread");
        ptrWorker = boost::make_shared_nothrow<CIdxLogWriterThreadFSDirect>(
            m_ptrSolrTransmitterPrivate, state.m_ptrOptions);
        break;
    case eIDX_Transmitter_LiveCrawl:
        IDX_LOG(2, "Instantiating LogWriter Live Crawl thread");
        ptrWorker = boost::make_shared_nothrow<CIdxLogWriterThreadLiveCrawl>(
            m_ptrSolrTransmitterPrivate, state.m_ptrOptions);
        break;
    default:
        IDX_LOG_ERROR("Unknown transmitter type [%d], defaulting to Solr transmitter", nType);
        ptrWorker = boost::make_shared_nothrow<CSolrTransmitterThread>(
            m_ptrSolrTransmitterPrivate, state.m_ptrOptions, &MakeItemSender);
        break;
    }
    return ptrWorker;
}
