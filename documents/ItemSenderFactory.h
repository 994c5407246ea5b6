// The sender of an index-engine worker, chosen once by the job's mode: the virtual-machine or
// collaboration-site web-service sender, the audit sender (auditing context with an audit URL),
// the metadata sender (push-only-metadata jobs) or the content push sender. The transmitter's
// worker factory hands this to every index-engine worker it makes.
#pragma once

#include <memory>

#include "engine/ItemSender.h"

std::unique_ptr<IItemSender> MakeItemSender(CSolrTransmitterThread &worker);
