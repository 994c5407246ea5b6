// The engine stand-in's documents: stored by "contentid" per core, replaced whole or changed by
// atomic "set"/"add" updates, removed by id or delete query, read back by select and by the dump;
// commits are counted per core.
#include "tests/support/engine/EngineStubImpl.h"

#include "tests/support/engine/EngineQuery.h"
#include "tests/support/engine/EngineRequestParsing.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>

namespace idxtest {

using enginestub::Answer;
using enginestub::ContainsNoCase;
using enginestub::DocUpdate;
using enginestub::ExtractLiterals;
using enginestub::FieldTypeProblem;
using enginestub::FieldUpdate;
using enginestub::kJsonType;
using enginestub::kKeyField;
using enginestub::kXmlType;
using enginestub::ParseUpdate;
using enginestub::UpdateCommand;
using enginestub::XmlError;

namespace {

// Values are kept as the texts they came as: one that reads as a whole number is answered as a
// JSON number (so that "CollectId" and "CollectOffset" come back typed), anything else as a string.
nlohmann::json TypedValue(const std::string &strValue) {
    bool bInteger = !strValue.empty() && strValue.size() <= 20;
    size_t nStart = (bInteger && strValue[0] == '-') ? 1 : 0;
    bInteger = bInteger && nStart < strValue.size() &&
               (strValue[nStart] != '0' || strValue.size() == nStart + 1) &&
               std::all_of(strValue.begin() + static_cast<std::ptrdiff_t>(nStart), strValue.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    if (bInteger) {
        errno = 0;
        if (nStart == 0) {
            unsigned long long ullValue = std::strtoull(strValue.c_str(), nullptr, 10);
            if (errno == 0)
                return ullValue;
        } else {
            long long llValue = std::strtoll(strValue.c_str(), nullptr, 10);
            if (errno == 0)
                return llValue;
        }
    }
    return strValue;
}

nlohmann::json DocumentJson(const EngineDocument &doc, const std::set<std::string> &setFields) {
    nlohmann::json jsonDoc = nlohmann::json::object();
    for (const auto &[strName, vecValues] : doc.mapFields) {
        if (!setFields.empty() && setFields.count(strName) == 0)
            continue;
        if (vecValues.size() == 1 && doc.setMultiValued.count(strName) == 0) {
            jsonDoc[strName] = TypedValue(vecValues[0]);
        } else {
            nlohmann::json jsonValues = nlohmann::json::array();
            for (const std::string &strValue : vecValues)
                jsonValues.push_back(TypedValue(strValue));
            jsonDoc[strName] = jsonValues;
        }
    }
    return jsonDoc;
}

std::string DumpJsonText(const nlohmann::json &json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JsonError(int nStatus, const std::string &strMessage) {
    nlohmann::json json = {{"responseHeader", {{"status", nStatus}, {"QTime", 0}}},
                           {"error", {{"msg", strMessage}, {"code", nStatus}}}};
    return DumpJsonText(json);
}

} // namespace

std::string EngineDocument::Value(const std::string &strName) const {
    auto it = mapFields.find(strName);
    return it == mapFields.end() || it->second.empty() ? std::string() : it->second.front();
}

std::vector<std::string> EngineDocument::Values(const std::string &strName) const {
    auto it = mapFields.find(strName);
    return it == mapFields.end() ? std::vector<std::string>() : it->second;
}

Answer EngineStub::Impl::ServeUpdate(const EngineRequest &request) {
    std::string strType = request.Header("Content-Type");
    if (!ContainsNoCase(strType, "xml")) {
        return XmlError(400, "Unsupported ContentType: '" + strType +
                                 "' Not in: [application/xml, text/xml]");
    }
    UpdateCommand cmd;
    std::string strError;
    if (!ParseUpdate(request.strBody, cmd, strError))
        return XmlError(400, strError);

    std::lock_guard<std::mutex> lock(mtx);
    if (cmd.eKind == UpdateCommand::Commit) {
        ++mapCommits[request.strCore];
        return {200, OkAnswer(), kXmlType};
    }
    if (bDiscard)
        return {200, OkAnswer(), kXmlType};
    std::map<std::string, EngineDocument> &mapDocs = mapCores[request.strCore];
    if (cmd.eKind == UpdateCommand::Delete) {
        for (const std::string &strId : cmd.vecIds)
            mapDocs.erase(strId);
        for (const EngineQuery &query : cmd.vecQueries) {
            for (auto it = mapDocs.begin(); it != mapDocs.end();) {
                it = MatchesEngineQuery(it->second, query) ? mapDocs.erase(it) : std::next(it);
            }
        }
        return {200, OkAnswer(), kXmlType};
    }
    for (const DocUpdate &update : cmd.vecDocs) {
        // A document without update attributes replaces the stored one; an atomic update
        // changes only the fields it names. Several "set" of one name in a document make a list.
        EngineDocument doc = update.bAtomic ? mapDocs[update.strKey] : EngineDocument();
        std::set<std::string> setReplaced;
        for (const FieldUpdate &field : update.vecFields) {
            std::vector<std::string> &vecValues = doc.mapFields[field.strName];
            if (field.strOp == "add") {
                doc.setMultiValued.insert(field.strName);
            } else if (setReplaced.insert(field.strName).second) {
                vecValues.clear();
            }
            vecValues.push_back(field.strValue);
        }
        doc.mapFields[kKeyField] = {update.strKey};
        mapDocs[update.strKey] = std::move(doc);
    }
    return {200, OkAnswer(), kXmlType};
}

Answer EngineStub::Impl::ServeExtract(const EngineRequest &request) {
    EngineDocument doc = ExtractLiterals(request);
    const std::vector<std::string> vecKey = doc.Values(kKeyField);
    if (vecKey.size() != 1 || vecKey[0].empty()) {
        return XmlError(400, "Document is missing mandatory uniqueKey field: contentid");
    }
    for (const auto &[strName, vecValues] : doc.mapFields) {
        for (const std::string &strValue : vecValues) {
            const std::string strProblem = FieldTypeProblem(strName, strValue);
            if (!strProblem.empty())
                return XmlError(400, strProblem);
        }
    }
    doc.strContent = request.strBody;
    doc.bExtracted = true;
    std::lock_guard<std::mutex> lock(mtx);
    if (!bDiscard)
        mapCores[request.strCore][vecKey[0]] = std::move(doc);
    return {200, OkAnswer(), kXmlType};
}

Answer EngineStub::Impl::ServeSelect(const EngineRequest &request) {
    if (request.Param("wt") != "json") {
        return XmlError(400, "This stand-in answers select with wt=json only");
    }
    auto Error = [](const std::string &strMessage) {
        return Answer{400, JsonError(400, strMessage), kJsonType};
    };
    std::vector<EngineQuery> vecFilters(1);
    std::string strError;
    if (!request.HasParam("q"))
        return Error("no query given (q)");
    if (!ParseEngineQuery(request.Param("q"), vecFilters[0], strError))
        return Error(strError);
    for (const auto &[strKey, strValue] : request.vecParams) {
        if (strKey != "fq")
            continue;
        vecFilters.emplace_back();
        if (!ParseEngineQuery(strValue, vecFilters.back(), strError))
            return Error(strError);
    }
    std::vector<EngineSortKey> vecSort;
    if (!ParseEngineSort(request.Param("sort"), vecSort, strError))
        return Error(strError);
    long nRows = 10, nStart = 0;
    for (auto [szName, pnValue] :
         {std::make_pair("rows", &nRows), std::make_pair("start", &nStart)}) {
        if (!request.HasParam(szName))
            continue;
        std::string strValue = request.Param(szName);
        char *pEnd = nullptr;
        *pnValue = std::strtol(strValue.c_str(), &pEnd, 10);
        if (strValue.empty() || *pEnd != '\0' || *pnValue < 0) {
            return Error(std::string("Invalid ") + szName + ": '" + strValue + "'");
        }
    }
    std::set<std::string> setFields;
    std::string strFl = request.Param("fl");
    std::replace(strFl.begin(), strFl.end(), ',', ' ');
    for (size_t nPos = 0; nPos < strFl.size();) {
        size_t nEnd = std::min(strFl.find(' ', nPos), strFl.size());
        std::string strName = strFl.substr(nPos, nEnd - nPos);
        if (strName == "*")
            setFields.clear();
        if (strName == "*")
            break;
        if (!strName.empty())
            setFields.insert(strName);
        nPos = nEnd + 1;
    }

    std::vector<EngineDocument> vecHits;
    {
        std::lock_guard<std::mutex> lock(mtx);
        auto itCore = mapCores.find(request.strCore);
        if (itCore != mapCores.end()) {
            for (const auto &entry : itCore->second) {
                bool bMatch = std::all_of(vecFilters.begin(), vecFilters.end(),
                                          [&](const EngineQuery &query) {
                                              return MatchesEngineQuery(entry.second, query);
                                          });
                if (bMatch)
                    vecHits.push_back(entry.second);
            }
        }
    }
    SortEngineDocuments(vecHits, vecSort);
    nlohmann::json jsonDocs = nlohmann::json::array();
    size_t nFirst = std::min(vecHits.size(), static_cast<size_t>(nStart));
    size_t nLast = nFirst + std::min(vecHits.size() - nFirst, static_cast<size_t>(nRows));
    for (size_t i = nFirst; i < nLast; ++i)
        jsonDocs.push_back(DocumentJson(vecHits[i], setFields));
    nlohmann::json json = {
        {"responseHeader", {{"status", 0}, {"QTime", 0}}},
        {"response", {{"numFound", vecHits.size()}, {"start", nStart}, {"docs", jsonDocs}}}};
    return {200, DumpJsonText(json), kJsonType};
}

std::map<std::string, EngineDocument> EngineStub::Documents(const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    auto it = m_ptrImpl->mapCores.find(strCore);
    return it == m_ptrImpl->mapCores.end() ? std::map<std::string, EngineDocument>() : it->second;
}

std::optional<EngineDocument> EngineStub::Document(const std::string &strKey,
                                                   const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    auto itCore = m_ptrImpl->mapCores.find(strCore);
    if (itCore == m_ptrImpl->mapCores.end())
        return std::nullopt;
    auto it = itCore->second.find(strKey);
    if (it == itCore->second.end())
        return std::nullopt;
    return it->second;
}

size_t EngineStub::DocumentCount(const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    auto it = m_ptrImpl->mapCores.find(strCore);
    return it == m_ptrImpl->mapCores.end() ? 0 : it->second.size();
}

void EngineStub::PutDocument(const std::map<std::string, std::string> &mapFields,
                             const std::string &strCore) {
    auto itKey = mapFields.find(kKeyField);
    if (itKey == mapFields.end())
        throw std::invalid_argument("PutDocument needs a contentid");
    EngineDocument doc;
    for (const auto &[strName, strValue] : mapFields)
        doc.mapFields[strName] = {strValue};
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->mapCores[strCore][itKey->second] = std::move(doc);
}

void EngineStub::ClearDocuments() {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    m_ptrImpl->mapCores.clear();
    m_ptrImpl->mapCommits.clear();
}

int EngineStub::CommitCount(const std::string &strCore) const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    int nCount = 0;
    for (const auto &[strName, nCommits] : m_ptrImpl->mapCommits) {
        if (strCore.empty() || strCore == strName)
            nCount += nCommits;
    }
    return nCount;
}

std::string EngineStub::DumpJson() const {
    std::lock_guard<std::mutex> lock(m_ptrImpl->mtx);
    int nCommits = 0;
    for (const auto &entry : m_ptrImpl->mapCommits)
        nCommits += entry.second;
    nlohmann::json jsonCores = nlohmann::json::object();
    for (const auto &[strCore, mapDocs] : m_ptrImpl->mapCores) {
        nlohmann::json jsonDocs = nlohmann::json::array();
        for (const auto &entry : mapDocs)
            jsonDocs.push_back(DocumentJson(entry.second, {}));
        jsonCores[strCore] = jsonDocs;
    }
    nlohmann::json json = {
        {"commits", nCommits}, {"requests", m_ptrImpl->nReceived}, {"documents", jsonCores}};
    return DumpJsonText(json);
}

} // namespace idxtest
