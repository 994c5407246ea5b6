// Cost of building documents: one metadata document per item (XML and literal form), and the
// field syntax on short and long values (ASCII, UTF-8, values holding "]]>").
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/make_shared.hpp>

#include <memory>

#include "documents/ContentRead.h"
#include "documents/DocumentContext.h"
#include "documents/FieldSyntax.h"
#include "documents/ItemMetadataDocument.h"
#include "engine/SolrTransmitterThread.h"
#include "platform/ItemLookup.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

const CTimeStamp kSomeTime(133000000000000000LL);

struct BenchWorker {
    explicit BenchWorker(bool bXml)
        : ptrState(boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr)) {
        CTransmitterOptions &options = *ptrState->m_ptrOptions;
        options.SetPushOnlyMetaData(bXml);
        options.SetClientId(2);
        options.SetApplicationNumber(17);
        options.SetJobId(123456);
        options.SetClientName("bench-client");
        ptrContext = std::make_unique<CDocumentContext>(options, *ptrState);
    }

    CSolrTransmitterPrivatePtr ptrState;
    std::unique_ptr<CDocumentContext> ptrContext;
};

// A file item as the queueing calls leave it, with an analytics record that collects nothing,
// so the build reads nothing from disk.
CItemPtr MakeItem() {
    CItemPtr ptrItem = boost::make_shared<CItem>();
    ptrItem->SetPath("/srv/data/projects/2024/quarterly report (final).pdf");
    ptrItem->SetSize(1843200);
    ptrItem->SetSizeOnDisk(1847296);
    ptrItem->SetTimes(kSomeTime, kSomeTime, kSomeTime, kSomeTime);
    CAnalyticsItemUnix *pAnalytics = new CAnalyticsItemUnix(ptrItem);
    pAnalytics->SetAppGUID("6f1d2c9e-0d1b-4a57-9c55-1f5e1a0b7c42");
    pAnalytics->SetCollectID(3);
    pAnalytics->SetCollectOffset(40960);
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, pAnalytics);
    return ptrItem;
}

void BM_BuildItemDataAnalytics(benchmark::State &state) {
    BenchWorker worker(state.range(0) != 0);
    CItemPtr ptrItem = MakeItem();
    for (auto _ : state) {
        std::string strDocument;
        IdxDocuments::BuildItemDataAnalytics(
            *worker.ptrContext, ptrItem,
            state.range(0) != 0 ? EFieldForm::eXml : EFieldForm::eLiteral, strDocument);
        benchmark::DoNotOptimize(strDocument);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildItemDataAnalytics)->ArgName("xml")->Arg(1)->Arg(0);

// The body of a full metadata batch as the sender assembles it: 20 documents, each written
// straight into one body that is cleared and reused from batch to batch.
void BM_BatchBody(benchmark::State &state) {
    BenchWorker worker(true);
    std::vector<CItemPtr> vecItems;
    for (int64_t i = 0; i < state.range(0); ++i) {
        vecItems.push_back(MakeItem());
    }
    std::string strBody;
    for (auto _ : state) {
        strBody.clear();
        strBody += "<add>";
        for (const CItemPtr &ptrItem : vecItems) {
            strBody += "<doc>";
            IdxDocuments::BuildItemDataAnalytics(*worker.ptrContext, ptrItem, EFieldForm::eXml,
                                                 strBody);
            strBody += "</doc>";
        }
        strBody += "</add>";
        benchmark::DoNotOptimize(strBody.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strBody.size()));
}
BENCHMARK(BM_BatchBody)->ArgName("documents")->Arg(20);

// SHA-512 of a content held in memory, as a content push hashes what it reads.
void BM_MakeHashSHA512(benchmark::State &state) {
    const std::string strContent(static_cast<size_t>(state.range(0)) * 1024 * 1024, 'c');
    for (auto _ : state) {
        benchmark::DoNotOptimize(IdxDocuments::MakeHashSHA512(strContent));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strContent.size()));
}
BENCHMARK(BM_MakeHashSHA512)->ArgName("MiB")->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);

std::string RepeatTo(const std::string &strUnit, size_t nLength) {
    std::string strValue;
    while (strValue.size() < nLength) {
        strValue += strUnit;
    }
    return strValue;
}

// Values: 0 short ASCII, 1 long ASCII, 2 long UTF-8, 3 long with "]]>" in it.
std::string Value(int64_t nKind) {
    switch (nKind) {
    case 0:
        return "report-2024.pdf";
    case 1:
        return RepeatTo("/srv/data/projects/alpha/", 4096);
    case 2:
        return RepeatTo("/srv/d\xC3\xA4ten/\xE6\x96\x87\xE4\xBB\xB6/", 4096);
    default:
        return RepeatTo("/srv/odd]]>names/", 4096);
    }
}

void ValueArgs(benchmark::internal::Benchmark *pBenchmark) {
    pBenchmark->ArgName("kind");
    for (int nKind = 0; nKind < 4; ++nKind) {
        pBenchmark->Arg(nKind);
    }
}

void BM_GenerateCData(benchmark::State &state) {
    const std::string strValue = Value(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(IdxDocuments::GenerateCData(strValue));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strValue.size()));
}
BENCHMARK(BM_GenerateCData)->Apply(ValueArgs);

void BM_StripIllegalXmlCharacters(benchmark::State &state) {
    const std::string strValue = Value(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(IdxDocuments::StripIllegalXmlCharacters(strValue));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strValue.size()));
}
BENCHMARK(BM_StripIllegalXmlCharacters)->Apply(ValueArgs);

void BM_Urlencode(benchmark::State &state) {
    const std::string strValue = Value(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(IdxDocuments::Urlencode(strValue));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strValue.size()));
}
BENCHMARK(BM_Urlencode)->Apply(ValueArgs);

} // namespace

BENCHMARK_MAIN();
