// Cost of reading a failed engine answer into a status and a message, against the answer's size:
// a flat answer with many error entries, and error lists nested inside each other (the shape
// whose message search once cost the square of the size). Both must grow linearly; the
// complexity line printed under each family tells the fitted growth.
#include <string>

#include <benchmark/benchmark.h>
#include <boost/make_shared.hpp>

#include "engine/SolrTransmitterThread.h"
#include "transmitter/SolrTransmitterPrivate.h"
#include "transmitter/TransmitterOptions.h"

namespace {

std::string EngineAnswer(const std::string &strErrors) {
    return "<response><lst name=\"responseHeader\"><int name=\"status\">500</int></lst>" +
           strErrors + "</response>";
}

// nDepth error lists, each inside the one before, the message in the innermost.
std::string NestedAnswer(int nDepth) {
    std::string strErrors;
    for (int i = 0; i < nDepth; ++i) {
        strErrors += "<lst name=\"error\"><int name=\"code\">500</int>";
    }
    strErrors += "<str name=\"msg\">innermost</str>";
    for (int i = 0; i < nDepth; ++i) {
        strErrors += "</lst>";
    }
    return EngineAnswer(strErrors);
}

// nCount error lists side by side, each with a message.
std::string FlatAnswer(int nCount) {
    std::string strErrors;
    for (int i = 0; i < nCount; ++i) {
        strErrors += "<lst name=\"error\"><int name=\"code\">500</int><str name=\"msg\">m</str>"
                     "</lst>";
    }
    return EngineAnswer(strErrors);
}

void RunParse(benchmark::State &state, const std::string &strAnswer) {
    CSolrTransmitterPrivatePtr ptrState =
        boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
    CSolrTransmitterThread worker(ptrState, ptrState->m_ptrOptions, FItemSenderFactory());
    for (auto _ : state) {
        uint32_t nStatus = 500;
        std::string strMessage;
        CKyError error = worker.Exchange().ParseResult(strAnswer, nStatus, strMessage);
        benchmark::DoNotOptimize(error);
        benchmark::DoNotOptimize(nStatus);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strAnswer.size()));
    state.SetComplexityN(static_cast<int64_t>(strAnswer.size()));
}

void BM_ParseNestedErrorLists(benchmark::State &state) {
    RunParse(state, NestedAnswer(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ParseNestedErrorLists)->RangeMultiplier(4)->Range(256, 16384)->Complexity();

void BM_ParseFlatErrorLists(benchmark::State &state) {
    RunParse(state, FlatAnswer(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ParseFlatErrorLists)->RangeMultiplier(4)->Range(256, 16384)->Complexity();

} // namespace

BENCHMARK_MAIN();
