// The worker factory of the transmitter: which worker class serves which transmitter type. It
// lives beside the last of the workers it makes, so that it sees every worker class; the
// transmitter knows them only through their common base and reaches this factory through what
// startup/ passes in (transmitter/TransmitterAssembly.h).
#include <cstdint>

#include "documents/ItemSenderFactory.h"
#include "engine/SolrTransmitterThread.h"
#include "foundation/MakeSharedNothrow.h"
#include "logwriter/IdxLogWriterLiveCrawlThread.h"
#include "logwriter/IdxLogWriterThread.h"
#include "logwriter/IdxLogWriterThreadBlkLvl.h"
#include "logwriter/IdxLogWriterThreadFSDirect.h"
#include "logwriter/IdxLogWriterThreadVSA.h"
#include "logwriter/TransmitterWorkerFactory.h"
#include "platform/LogWriter.h"
#include "transmitter/SolrTransmitterPrivate.h"

IIdxTransmitterThreadPtr MakeTransmitterWorker(const CSolrTransmitterPrivatePtr &ptrState) {
    CSolrTransmitterPrivate &state = *ptrState;
    const int32_t nType = static_cast<int32_t>(state.GetTransmitterType());
    IIdxTransmitterThreadPtr ptrWorker;

    switch (nType) {
    case eIDX_Transmitter_Solr:
        ptrWorker = boost::make_shared_nothrow<CSolrTransmitterThread>(ptrState, state.m_ptrOptions,
                                                                       &MakeItemSender);
        break;
    case eIDX_Transmitter_LogWriter:
        IDX_LOG(2, "Instantiating LogWriter thread");
        ptrWorker = boost::make_shared_nothrow<CIdxLogWriterThread>(ptrState, state.m_ptrOptions);
        break;
    case eIDX_Transmitter_VSA:
        IDX_LOG(2, "Instantiating VSA LogWriter thread");
        ptrWorker =
            boost::make_shared_nothrow<CIdxLogWriterThreadVSA>(ptrState, state.m_ptrOptions);
        break;
    case eIDX_Transmitter_BlkLvl:
        IDX_LOG(2, "Instantiating block level LogWriter thread");
        ptrWorker =
            boost::make_shared_nothrow<CIdxLogWriterThreadBlkLvl>(ptrState, state.m_ptrOptions);
        break;
    case eIDX_Transmitter_FSDirect:
        IDX_LOG(2, "Instantiating FS Direct LogWriter thread");
        ptrWorker =
            boost::make_shared_nothrow<CIdxLogWriterThreadFSDirect>(ptrState, state.m_ptrOptions);
        break;
    case eIDX_Transmitter_LiveCrawl:
        IDX_LOG(2, "Instantiating LogWriter Live Crawl thread");
        ptrWorker =
            boost::make_shared_nothrow<CIdxLogWriterThreadLiveCrawl>(ptrState, state.m_ptrOptions);
        break;
    default:
        IDX_LOG_ERROR("Unknown transmitter type [%d], defaulting to Solr transmitter", nType);
        ptrWorker = boost::make_shared_nothrow<CSolrTransmitterThread>(ptrState, state.m_ptrOptions,
                                                                       &MakeItemSender);
        break;
    }
    return ptrWorker;
}
