#include "logwriter/IdxLogWriterThreadVSA.h"

#include "foundation/StringHelpers.h"
#include "platform/LogWriter.h"
#include "transmitter/TransmitterOptions.h"

CIdxLogWriterThreadVSA::CIdxLogWriterThreadVSA(CSolrTransmitterPrivatePtr ptrSolrTransmitterPrivate,
                                               CTransmitterOptionsPtr ptrOptions)
    : CIdxLogWriterThread(ptrSolrTransmitterPrivate, ptrOptions) {
    CIdxLogWriterThreadVSA::InitIdxDbInfoViewId();
    m_mapVmMountPathVol = m_ptrOptions->GetVmMountPathVol();
}

CIdxLogWriterThreadVSA::~CIdxLogWriterThreadVSA() = default;

void CIdxLogWriterThreadVSA::InitIdxDbInfoViewId() {
    m_strViewId = "VSAFILEVIEW";
}

std::string CIdxLogWriterThreadVSA::FindVolumeMountPointPath(const std::string &strPath) {
    std::string strVolume = "\\";
    if (strPath.empty()) {
        IDX_LOG_ERROR("Invalid path");
        return strVolume;
    }
    // An empty remembered mount path is no ancestor of anything, so nothing is taken from it
    // before a first match.
    if (FXPath::IsAncestorOf(m_lastMountPathHit.first, strPath, false)) {
        strVolume = m_lastMountPathHit.second;
    } else {
        // The walk goes on after a match: a mount path sorts before the longer ones under it,
        // so the last match is the deepest.
        for (const auto &entry : m_mapVmMountPathVol) {
            if (FXPath::IsAncestorOf(entry.first, strPath, false)) {
                m_lastMountPathHit = entry;
                strVolume = entry.second;
            }
        }
    }
    IDX_LOG(6, "%s -> %s ", strPath.c_str(), strVolume.c_str());
    return strVolume;
}
