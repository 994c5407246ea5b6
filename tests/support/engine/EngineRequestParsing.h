// How the engine stand-in reads a request: update XML bodies (documents with atomic updates,
// commits, delete queries), form-encoded parameters, the extract handler's literal parameters and
// the UTF-8 checks an engine makes before any handler sees a request.
#pragma once

#include "tests/support/engine/EngineQuery.h"
#include "tests/support/engine/EngineStub.h"

#include <string>
#include <utility>
#include <vector>

namespace idxtest {

namespace enginestub {

const char *const kKeyField = "contentid";

bool EqualsNoCase(const std::string &strA, const std::string &strB);
bool ContainsNoCase(const std::string &strText, const std::string &strPart);

std::string PercentDecode(const std::string &strText);
std::vector<std::pair<std::string, std::string>> ParseForm(const std::string &strText);

// One field of a document in an update request: no update attribute, "set" or "add".
struct FieldUpdate {
    std::string strName;
    std::string strOp;
    std::string strValue;
};

struct DocUpdate {
    std::string strKey;
    bool bAtomic = false;
    std::vector<FieldUpdate> vecFields;
};

struct UpdateCommand {
    enum Kind { Add, Commit, Delete } eKind = Add;
    std::vector<DocUpdate> vecDocs;
    std::vector<EngineQuery> vecQueries;
    std::vector<std::string> vecIds;
};

bool ParseUpdate(const std::string &strBody, UpdateCommand &cmd, std::string &strError);

// The fields named by the extract handler's "literal.<field>" parameters, in order.
EngineDocument ExtractLiterals(const EngineRequest &request);

// "" when strValue fits the schema's type of the field strName, else the engine's refusal. The
// fields the library writes as decimal numbers are integers in an engine's schema, which refuses
// any other text there, an empty one included.
std::string FieldTypeProblem(const std::string &strName, const std::string &strValue);

// "" when every parameter is UTF-8 after percent-decoding, else which one is not.
std::string ParamUtf8Problem(const EngineRequest &request);

} // namespace enginestub

} // namespace idxtest
