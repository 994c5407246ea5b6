// The archive manager's client: what it knows of an archive file (its identifier, the value the
// index server wants with it, its flags). A local object per query; the answer is 0 for success.
//
// Our stand-in answers from the process's index-server record (platform/testing/IndexServer.h):
// by default the identifier is the archive file id asked for and the value and flags are 0; tests
// set another reply or a refusal.
#pragma once

#include "foundation/Export.h"
#include "platform/ArMgrTypes.h"

class IDX_EXPORT ArMgrClientAPI {
public:
    ArMgrClientAPI() = default;

    int getAfileInfo(GetAfileInfoArgsCC_t *pArgs, GetAfileInfoRetCC_t *pReply);
};
