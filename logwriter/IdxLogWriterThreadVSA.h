// The index-log worker of virtual-machine catalogue jobs (transmitter type 2): the plain worker
// with the view id "VSAFILEVIEW", and the volume of each item found from the virtual machine's
// mount paths.
//
// The mount paths are a copy taken when the worker is made. The entry that the last search chose
// is tried first: consecutive items mostly lie under the same mount path.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "logwriter/IdxLogWriterThread.h"

class CIdxLogWriterThreadVSA : public CIdxLogWriterThread {
public:
    CIdxLogWriterThreadVSA(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                           CTransmitterOptionsPtr ptrOptions);
    ~CIdxLogWriterThreadVSA() override;

    void InitIdxDbInfoViewId() override;
    // The volume of the deepest mount path that holds the path ("\" when none does, or for an
    // empty path), unless the entry chosen last still holds it: then that entry's volume.
    std::string FindVolumeMountPointPath(const std::string &strPath) override;

private:
    std::map<std::string, std::string> m_mapVmMountPathVol;
    std::pair<std::string, std::string> m_lastMountPathHit;
};
