// The stand-in web-service plug-in: a handler that takes every record it is given, keeps the
// records of its current transaction (as many as its batch limit) and the list of those that
// failed, and tells the platform library (platform/WebServicePluginRecord.h) every call it
// receives. It talks to no web service: tests and operators read what it was handed instead.
//
// It is strict about the order the library must keep: a task is submitted only after Initialize,
// and records are taken only once a task has been submitted; anything else is refused.
#include <cinttypes>
#include <deque>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/CIWebServiceHandler.h"
#include "platform/WebServicePluginRecord.h"

namespace {

using TQLX_ContentIndexing::CCIItemInfoPtr;
using TQLX_ContentIndexing::ICIWSHandler;

constexpr uint32_t kErrorInvalidParameter = 87;

std::string Flag(bool bValue) {
    return bValue ? "1" : "0";
}

class CStandInWebServiceHandler : public ICIWSHandler {
public:
    CStandInWebServiceHandler(bool bVMContentIndexing, int nHandler)
        : m_bVMContentIndexing(bVMContentIndexing), m_nHandler(nHandler) {}

    ~CStandInWebServiceHandler() override {
        Record(Call("~ICIWSHandler"));
        CWebServicePluginRecord::ForgetHandler(m_nHandler);
    }

    CKyError Initialize() override {
        CKyError error = Answer("Initialize");
        m_bInitialized = !error.IsError();
        return error;
    }

    CKyError SubmitTask(const std::string &strUrl, const uint32_t &nApplicationNumber,
                        const int32_t &nClientId, const int64_t &llJobId, int nApplicationType,
                        std::string &strOutput) override {
        idxtest::WebServiceCall call = Call("SubmitTask");
        call.vecArguments = {{"url", strUrl},
                             {"applicationNumber", std::to_string(nApplicationNumber)},
                             {"clientId", std::to_string(nClientId)},
                             {"jobId", std::to_string(llJobId)},
                             {"applicationType", std::to_string(nApplicationType)},
                             {"vm", Flag(m_bVMContentIndexing)}};
        CKyError error = Refusal(call, "SubmitTask");
        if (!error.IsError() && !m_bInitialized) {
            error = Refuse(call, kErrorInvalidParameter, "task submitted before Initialize");
        }
        Record(std::move(call));
        if (!error.IsError()) {
            m_bTaskSubmitted = true;
            strOutput = "task " + std::to_string(m_nHandler);
        }
        return error;
    }

    CKyError FinishTask(bool &bValue) override {
        idxtest::WebServiceCall call = Call("FinishTask");
        call.vecArguments = {{"value", Flag(bValue)}};
        return RecordAnswer(std::move(call));
    }

    CKyError PushItem(CCIItemInfoPtr ptrItem) override { return Push("PushItem", ptrItem); }

    CKyError PushItemMetadata(CCIItemInfoPtr ptrItem) override {
        return Push("PushItemMetadata", ptrItem);
    }

    CKyError FinishVMTask(int nValue) override {
        idxtest::WebServiceCall call = Call("FinishVMTask");
        call.vecArguments = {{"value", std::to_string(nValue)}};
        return RecordAnswer(std::move(call));
    }

    const std::vector<CCIItemInfoPtr> &GetFailedItems() override {
        idxtest::WebServiceCall call = Call("GetFailedItems");
        call.vecArguments = {{"count", std::to_string(m_vecFailed.size())}};
        Record(std::move(call));
        return m_vecFailed;
    }

    void ClearFailedItems() override {
        m_vecFailed.clear();
        Record(Call("ClearFailedItems"));
    }

    void SetBatchLimits(const uint32_t &nItemsPerTransaction, const uint32_t &nSecond) override {
        m_nItemsPerTransaction = nItemsPerTransaction;
        idxtest::WebServiceCall call = Call("SetBatchLimits");
        call.vecArguments = {{"itemsPerTransaction", std::to_string(nItemsPerTransaction)},
                             {"second", std::to_string(nSecond)}};
        Record(std::move(call));
    }

    void SetOptionFlag(bool bFlag) override { RecordValue("SetOptionFlag", Flag(bFlag)); }

    void SetPushOnlyMetadata(bool bPushOnlyMetadata) override {
        RecordValue("SetPushOnlyMetadata", Flag(bPushOnlyMetadata));
    }

    void SetSubClientDir(const std::string &strSubClientDir) override {
        RecordValue("SetSubClientDir", strSubClientDir);
    }

    void SetMode(const int64_t &llMode) override { RecordValue("SetMode", std::to_string(llMode)); }

    void SetJobId(const int64_t &llJobId) override {
        RecordValue("SetJobId", std::to_string(llJobId));
    }

    void SetAbortCheck(std::function<bool()> fnAbortCheck) override {
        const bool bGiven = static_cast<bool>(fnAbortCheck);
        CWebServicePluginRecord::SetAbortCheck(m_nHandler, std::move(fnAbortCheck));
        RecordValue("SetAbortCheck", Flag(bGiven));
    }

private:
    idxtest::WebServiceCall Call(const char *szOperation) const {
        idxtest::WebServiceCall call;
        call.nHandler = m_nHandler;
        call.strOperation = szOperation;
        return call;
    }

    static void Record(idxtest::WebServiceCall call) {
        CWebServicePluginRecord::Record(std::move(call));
    }

    void RecordValue(const char *szOperation, const std::string &strValue) {
        idxtest::WebServiceCall call = Call(szOperation);
        call.vecArguments = {{"value", strValue}};
        Record(std::move(call));
    }

    static CKyError Refuse(idxtest::WebServiceCall &call, uint32_t nError,
                           const std::string &strWhy) {
        call.nError = nError;
        return FXErrorUtil::ErrorWin32(FXLOC, nError, "Web service refused %s: %s",
                                       call.strOperation.c_str(), strWhy.c_str());
    }

    // The refusal scripted for this call of the operation, if any.
    static CKyError Refusal(idxtest::WebServiceCall &call, const char *szOperation) {
        const uint32_t nError = CWebServicePluginRecord::TakeCallError(szOperation);
        if (nError == 0) {
            return CKyError::Success();
        }
        return Refuse(call, nError, "scripted refusal");
    }

    CKyError Answer(const char *szOperation) { return RecordAnswer(Call(szOperation)); }

    CKyError RecordAnswer(idxtest::WebServiceCall call) {
        CKyError error = Refusal(call, call.strOperation.c_str());
        Record(std::move(call));
        return error;
    }

    CKyError Push(const char *szOperation, const CCIItemInfoPtr &ptrItem) {
        idxtest::WebServiceCall call = Call(szOperation);
        if (!ptrItem) {
            CKyError error = Refuse(call, kErrorInvalidParameter, "no item record");
            Record(std::move(call));
            return error;
        }
        call.strVersionGuid = ptrItem->GetVersionGuid();
        call.strContentId = ptrItem->GetContentId();
        call.strPath = ptrItem->GetPath();
        call.nDocumentType = ptrItem->GetDocumentType();
        for (const App::NameValueMap &property : ptrItem->GetCustomProperties()) {
            call.vecProperties.emplace_back(
                property.getstring(App::NameValueMap::kNameIndex, App::NameValueMap::kNameTag),
                property.getstring(App::NameValueMap::kValueIndex, App::NameValueMap::kValueTag));
        }

        bool bListed = true;
        std::vector<std::string> vecAlsoListed;
        CKyError error = Refusal(call, szOperation);
        if (!error.IsError() && !m_bTaskSubmitted) {
            error =
                Refuse(call, kErrorInvalidParameter, "record pushed before a task was submitted");
        }
        idxtest::WebServiceItemFailure failure;
        if (!error.IsError() &&
            CWebServicePluginRecord::FindItemFailure(ptrItem->GetPath(), failure)) {
            error = Refuse(call, failure.nError, "scripted refusal of " + ptrItem->GetPath());
            bListed = failure.bListed;
            vecAlsoListed = failure.vecAlsoListed;
        }

        if (error.IsError()) {
            ListFailed(vecAlsoListed);
            if (bListed) {
                m_vecFailed.push_back(ptrItem);
            }
        } else {
            Take(ptrItem);
        }
        Record(std::move(call));
        return error;
    }

    // Earlier records of the current transaction named by path move to the failed list.
    void ListFailed(const std::vector<std::string> &vecPaths) {
        for (const std::string &strPath : vecPaths) {
            for (auto it = m_dqTransaction.begin(); it != m_dqTransaction.end(); ++it) {
                if ((*it)->GetPath() == strPath) {
                    m_vecFailed.push_back(*it);
                    m_dqTransaction.erase(it);
                    break;
                }
            }
        }
    }

    // A full transaction counts as delivered and is let go.
    void Take(const CCIItemInfoPtr &ptrItem) {
        const size_t nLimit = m_nItemsPerTransaction > 0 ? m_nItemsPerTransaction : 1;
        if (m_dqTransaction.size() >= nLimit) {
            m_dqTransaction.clear();
        }
        m_dqTransaction.push_back(ptrItem);
    }

    const bool m_bVMContentIndexing;
    const int m_nHandler;
    bool m_bInitialized = false;
    bool m_bTaskSubmitted = false;
    uint32_t m_nItemsPerTransaction = 0;
    std::deque<CCIItemInfoPtr> m_dqTransaction;
    std::vector<CCIItemInfoPtr> m_vecFailed;
};

} // namespace

// Exported with C linkage under the name the library looks up.
extern "C" __attribute__((visibility("default"))) ICIWSHandler *
getTqCIWebServiceHandle(bool bVMContentIndexing) {
    try {
        idxtest::WebServiceCall call;
        call.strOperation = "getTqCIWebServiceHandle";
        call.vecArguments = {{"vm", Flag(bVMContentIndexing)}};
        call.nError = CWebServicePluginRecord::TakeCallError(call.strOperation);
        ICIWSHandler *pHandler = nullptr;
        if (call.nError == 0) {
            call.nHandler = CWebServicePluginRecord::AddHandler();
            pHandler =
                new (std::nothrow) CStandInWebServiceHandler(bVMContentIndexing, call.nHandler);
            if (pHandler == nullptr) {
                CWebServicePluginRecord::ForgetHandler(call.nHandler);
                call.nHandler = 0;
            }
        }
        CWebServicePluginRecord::Record(std::move(call));
        return pHandler;
    } catch (...) {
        // Nothing may leave the entry point: the caller sees no handler.
        return nullptr;
    }
}
