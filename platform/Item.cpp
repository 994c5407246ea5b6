#include "platform/Item.h"

#include <boost/make_shared.hpp>

CItemInterface::~CItemInterface() = default;

CItem::CItem(CBagPtr ptrWorkUnitBag)
    : m_ptrWorkUnitBag(std::move(ptrWorkUnitBag)), m_ptrItemBag(boost::make_shared<CBag>()),
      m_nFlags(0) {}

CItem::~CItem() = default;

void CItem::AddInterface(int nId, CItemInterface *pInterface) {
    std::unique_ptr<CItemInterface> ptrNew(pInterface);
    std::unique_ptr<CItemInterface> ptrOld;
    {
        std::lock_guard<std::mutex> guard(m_lockInterfaces);
        std::unique_ptr<CItemInterface> &ptrSlot = m_mapInterfaces[nId];
        // Swapped out under the lock, deleted after it: a record's destructor may call back.
        ptrOld = std::move(ptrSlot);
        ptrSlot = std::move(ptrNew);
    }
}

CItemInterface *CItem::GetInterface(int nId) const {
    std::lock_guard<std::mutex> guard(m_lockInterfaces);
    auto it = m_mapInterfaces.find(nId);
    return it != m_mapInterfaces.end() ? it->second.get() : nullptr;
}

void CItem::SetPath(const std::string &strPath) {
    m_strPath = strPath;
    m_strFullyQualifiedName = strPath;
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos) {
        m_strName = strPath;
        m_strParentPath.clear();
    } else {
        m_strName = strPath.substr(nSlash + 1);
        m_strParentPath = nSlash == 0 ? std::string("/") : strPath.substr(0, nSlash);
    }
}
