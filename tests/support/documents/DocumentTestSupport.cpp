#include "tests/support/documents/DocumentTestSupport.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>

#include <boost/make_shared.hpp>
#include <pugixml.hpp>

#include "documents/ItemSenderFactory.h"
#include "foundation/FileData.h"
#include "platform/Clock.h"
#include "transmitter/ItemBatch.h"

namespace idxtest {

void DocumentWorker::MakeTimers() {
    m_ptrGenerateCRC32Timer = boost::make_shared<CTimeCounter>("GenerateCRC32");
    m_ptrChangeTimeTimer = boost::make_shared<CTimeCounter>("ChangeTime");
    m_ptrOwnerAndAclTimer = boost::make_shared<CTimeCounter>("OwnerAndAcl");
    m_ptrReadContentTimer = boost::make_shared<CTimeCounter>("ReadContent");
    m_ptrSendItemsTimer = boost::make_shared<CTimeCounter>("SendItems");
    m_ptrBuildItemsTimer = boost::make_shared<CTimeCounter>("BuildItems");
}

DocumentWorkerSet MakeDocumentWorker(bool bPushOnlyMetaData) {
    DocumentWorkerSet set;
    set.ptrState = boost::make_shared<CSolrTransmitterPrivate>(nullptr, eIDX_Transmitter_Solr);
    set.ptrOptions = set.ptrState->m_ptrOptions;
    set.ptrOptions->SetPushOnlyMetaData(bPushOnlyMetaData);
    set.ptrWorker =
        boost::make_shared<DocumentWorker>(set.ptrState, set.ptrOptions, &MakeItemSender);
    set.ptrContext = std::make_shared<CDocumentContext>(*set.ptrWorker);
    set.ptrMetadataSender = std::make_shared<CMetadataSender>(*set.ptrWorker);
    set.ptrContentPushSender = std::make_shared<CContentPushSender>(*set.ptrWorker);
    set.eForm = bPushOnlyMetaData ? EFieldForm::eXml : EFieldForm::eLiteral;
    return set;
}

CKyError SendAsBatch(IItemSender &sender, CSolrTransmitterPrivate &state,
                     std::list<CItemPtr> &lstItems) {
    CItemBatch batch(state);
    for (const CItemPtr &ptrItem : lstItems) {
        batch.Add(ptrItem);
    }
    lstItems.clear();
    return sender.Send(batch);
}

namespace {

void AttachAnalytics(const CItemPtr &ptrItem, const CTransmitterOptions &options,
                     const AnalyticsSettings &settings) {
    std::unique_ptr<CAnalyticsItemUnix> ptrAnalytics(new CAnalyticsItemUnix(ptrItem));
    ptrAnalytics->SetSecurityInformation(options.IsCollectOwnerInfo(),
                                         options.IsCollectSecurityInfo());
    ptrAnalytics->ProcessSecurityInformation();
    ptrAnalytics->SetAppGUID(settings.strAppGuid);
    ptrAnalytics->SetCollectID(settings.nCollectId);
    ptrAnalytics->SetCollectOffset(settings.llCollectOffset);
    ptrAnalytics->SetSkippedForArchiving(settings.bSkippedForArchiving);
    ptrAnalytics->SetIsStub(settings.bStub);
    ptrAnalytics->SetItemDeleted(settings.bDeleted);
    if (settings.nErrorCode != 0) {
        ptrAnalytics->SetItemFailed(true);
        ptrAnalytics->SetErrorCode(settings.nErrorCode);
    }
    if (settings.ptrAddInfo) {
        ptrAnalytics->SetAdditionalInfo(settings.ptrAddInfo);
    }
    ptrItem->AddInterface(EItemInterfaceId::eAnalytics, ptrAnalytics.release());
}

} // namespace

CItemPtr MakePathItem(const std::string &strPath, const CTransmitterOptions &options,
                      const AnalyticsSettings &settings) {
    CItemPtr ptrItem;
    CBasicPathEnumerator enumerator;
    CKyError error = enumerator.GetItemByPath(strPath, strPath, ptrItem);
    if (!ptrItem) {
        return ptrItem;
    }
    AnalyticsSettings effective = settings;
    if (error.IsError() && effective.nErrorCode == 0) {
        effective.nErrorCode = FXErrorUtil::GetWin32(error);
    }
    AttachAnalytics(ptrItem, options, effective);
    return ptrItem;
}

CItemPtr MakeDeletedItem(const std::string &strPath, const CTransmitterOptions &options) {
    struct stat zeroStatus;
    memset(&zeroStatus, 0, sizeof(zeroStatus));
    FXFile::CFileData fileData(strPath, FXFile::CFileData::eParentAndName, &zeroStatus);
    CItemPtr ptrItem = boost::make_shared<CFindFirstItem>(CBagPtr(), strPath, strPath, fileData);
    AnalyticsSettings settings;
    settings.bDeleted = true;
    AttachAnalytics(ptrItem, options, settings);
    return ptrItem;
}

namespace {

bool ReadFields(const pugi::xml_node &nodeDoc, FieldList &fields, std::string &strError) {
    for (const pugi::xml_node &child : nodeDoc.children()) {
        if (child.type() != pugi::node_element || std::strcmp(child.name(), "field") != 0) {
            strError = std::string("unexpected node in <doc>: ") + child.name();
            return false;
        }
        DocumentField field;
        field.strName = child.attribute("name").value();
        if (field.strName.empty()) {
            strError = "field without a name";
            return false;
        }
        pugi::xml_attribute attrUpdate = child.attribute("update");
        field.bHasUpdate = static_cast<bool>(attrUpdate);
        field.strUpdate = attrUpdate.value();
        for (const pugi::xml_node &text : child.children()) {
            if (text.type() != pugi::node_cdata && text.type() != pugi::node_pcdata) {
                strError = "unexpected node in field " + field.strName;
                return false;
            }
            field.strValue += text.value();
        }
        fields.push_back(field);
    }
    return true;
}

} // namespace

bool ParseUpdateBody(const std::string &strBody, std::vector<FieldList> &vecDocs,
                     std::string &strError) {
    vecDocs.clear();
    strError = XmlTextProblem(strBody);
    if (!strError.empty()) {
        return false;
    }
    pugi::xml_document xml;
    pugi::xml_parse_result result =
        xml.load_buffer(strBody.data(), strBody.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        strError = std::string("unparseable: ") + result.description() + " at offset " +
                   std::to_string(result.offset);
        return false;
    }
    pugi::xml_node nodeAdd = xml.first_child();
    if (!nodeAdd || std::strcmp(nodeAdd.name(), "add") != 0 || nodeAdd.next_sibling()) {
        strError = "the body is not one <add> element";
        return false;
    }
    for (const pugi::xml_node &nodeDoc : nodeAdd.children()) {
        if (nodeDoc.type() != pugi::node_element || std::strcmp(nodeDoc.name(), "doc") != 0) {
            strError = std::string("unexpected node in <add>: ") + nodeDoc.name();
            return false;
        }
        vecDocs.emplace_back();
        if (!ReadFields(nodeDoc, vecDocs.back(), strError)) {
            return false;
        }
    }
    return true;
}

bool ParseDocumentFields(const std::string &strFields, FieldList &fields, std::string &strError) {
    std::vector<FieldList> vecDocs;
    if (!ParseUpdateBody("<add><doc>" + strFields + "</doc></add>", vecDocs, strError)) {
        return false;
    }
    if (vecDocs.size() != 1) {
        strError = "the fields make " + std::to_string(vecDocs.size()) + " documents";
        return false;
    }
    fields = vecDocs[0];
    return true;
}

std::vector<std::string> FieldNames(const FieldList &fields) {
    std::vector<std::string> vecNames;
    for (const DocumentField &field : fields) {
        vecNames.push_back(field.strName);
    }
    return vecNames;
}

const DocumentField *FindField(const FieldList &fields, const std::string &strName) {
    for (const DocumentField &field : fields) {
        if (field.strName == strName) {
            return &field;
        }
    }
    return nullptr;
}

size_t CountFields(const FieldList &fields, const std::string &strName) {
    size_t nCount = 0;
    for (const DocumentField &field : fields) {
        nCount += field.strName == strName ? 1 : 0;
    }
    return nCount;
}

} // namespace idxtest
