// The request and reply records of the archive manager's archive-file query
// (ArMgrClientAPI::getAfileInfo).
#pragma once

#include <cstdint>
#include <string>

struct GetAfileInfoArgsCC_t {
    uint64_t ullAfileId = 0;
    uint64_t ullReserved = 0; // always 0
    uint64_t ullFleetId = 0;
};

struct GetAfileInfoRetCC_t {
    // The texts start empty; the numbers start at 0 until the archive manager fills them.
    GetAfileInfoRetCC_t() : strAfileName(), strAfileLocation() {}
    ~GetAfileInfoRetCC_t() {}

    uint64_t ullAfileId = 0;    // its low 32 bits identify the archive file to the index server
    uint64_t ullReplyValue = 0; // passed on unchanged when the archive file is announced
    uint64_t ullAfileFlags = 0;
    std::string strAfileName;
    std::string strAfileLocation;
};
