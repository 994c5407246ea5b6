// The platform settings section read by both units of CSolrTransmitterInit: the start-up
// (SolrTransmitterInit.cpp) and the resolution from the management server
// (SolrTransmitterInitManagement.cpp).
#pragma once

namespace solr_transmitter_init {

// The section whose values override what the job's records say.
constexpr char kSection[] = "FileSystemAgent";

} // namespace solr_transmitter_init
