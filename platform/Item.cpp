#include "platform/Item.h"

#include <boost/make_shared.hpp>

CItemInterface::~CItemInterface() = default;

CItem::CItem(CBagPtr ptrWorkUnitBag) : m_ptrWorkUnitBag(std::move(ptrWorkUnitBag)), m_nFlags(0) {}

CItem::~CItem() = default;

CBagPtr CItem::GetItemBag() const {
    boost::shared_ptr<const CItem> ptrSelf = weak_from_this().lock();
    // An item that no shared pointer owns (one on the stack) hands out a plain pointer, valid
    // while the item is.
    return CBagPtr(ptrSelf, &m_itemBag);
}

std::unique_ptr<CItemInterface> &CItem::InterfaceSlot(int nId) {
    if (nId >= 0 && nId < kInlineInterfaces) {
        return m_arrInterfaces[nId];
    }
    return m_mapInterfaces[nId];
}

void CItem::AddInterface(int nId, CItemInterface *pInterface) {
    std::unique_ptr<CItemInterface> ptrNew(pInterface);
    std::unique_ptr<CItemInterface> ptrOld;
    {
        std::lock_guard<std::mutex> guard(m_lockInterfaces);
        std::unique_ptr<CItemInterface> &ptrSlot = InterfaceSlot(nId);
        // Swapped out under the lock, deleted after it: a record's destructor may call back.
        ptrOld = std::move(ptrSlot);
        ptrSlot = std::move(ptrNew);
    }
}

CItemInterface *CItem::GetInterface(int nId) const {
    std::lock_guard<std::mutex> guard(m_lockInterfaces);
    if (nId >= 0 && nId < kInlineInterfaces) {
        return m_arrInterfaces[nId].get();
    }
    auto it = m_mapInterfaces.find(nId);
    return it != m_mapInterfaces.end() ? it->second.get() : nullptr;
}

void CItem::SetPath(const std::string &strPath) {
    m_strPath = strPath;
    m_strFullyQualifiedName.clear();
    m_bNameIsPath = true;
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos) {
        m_strName = strPath;
        m_strParentPath.clear();
    } else {
        m_strName = strPath.substr(nSlash + 1);
        m_strParentPath = nSlash == 0 ? std::string("/") : strPath.substr(0, nSlash);
    }
}
