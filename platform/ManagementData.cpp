#include "platform/ManagementData.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "foundation/TextEncoding.h"

namespace {

const char kSeparator = '*';

// Host and client names go between separators: everything but letters, digits and "._-" is
// escaped, in upper-case hexadecimal.
std::string Escape(const std::string &strText) {
    return CTextEncoding::PercentEncode(strText, CTextEncoding::kUnreservedMarksWithoutTilde,
                                        CTextEncoding::eUpperHex);
}

bool Unescape(const std::string &strEscaped, std::string &strText) {
    return CTextEncoding::PercentDecode(strEscaped, strText);
}

bool ParseInt(const std::string &strText, int &nValue) {
    if (strText.empty() || strText.size() > 12) {
        return false;
    }
    size_t nStart = strText[0] == '-' ? 1 : 0;
    if (nStart == strText.size()) {
        return false;
    }
    for (size_t i = nStart; i < strText.size(); ++i) {
        if (strText[i] < '0' || strText[i] > '9') {
            return false;
        }
    }
    errno = 0;
    long lValue = strtol(strText.c_str(), nullptr, 10);
    if (errno != 0 || lValue < INT_MIN || lValue > INT_MAX) {
        return false;
    }
    nValue = static_cast<int>(lValue);
    return true;
}

} // namespace

std::string MangleHostName(const std::string &strHostName, const std::string &strClientName,
                           int nPort, int nFlags) {
    std::string strMangled = Escape(strHostName);
    strMangled.push_back(kSeparator);
    strMangled += Escape(strClientName);
    strMangled.push_back(kSeparator);
    strMangled += std::to_string(nPort);
    strMangled.push_back(kSeparator);
    strMangled += std::to_string(nFlags);
    return strMangled;
}

int DemangleHostName(const char *szMangled, std::string &strHostName, std::string &strClientName,
                     int &nPort, int &nFlags) {
    const int kInvalidParameter = 87;
    strHostName.clear();
    strClientName.clear();
    nPort = 0;
    nFlags = 0;
    if (szMangled == nullptr) {
        return kInvalidParameter;
    }
    const std::string strMangled(szMangled);
    if (strMangled.find(kSeparator) == std::string::npos) {
        strHostName = strMangled;
        strClientName = strMangled;
        return 0;
    }

    std::vector<std::string> vecParts;
    size_t nStart = 0;
    for (;;) {
        size_t nEnd = strMangled.find(kSeparator, nStart);
        vecParts.push_back(strMangled.substr(nStart, nEnd - nStart));
        if (nEnd == std::string::npos) {
            break;
        }
        nStart = nEnd + 1;
    }
    std::string strHost;
    std::string strClient;
    int nFirst = 0;
    int nSecond = 0;
    if (vecParts.size() != 4 || !Unescape(vecParts[0], strHost) ||
        !Unescape(vecParts[1], strClient) || !ParseInt(vecParts[2], nFirst) ||
        !ParseInt(vecParts[3], nSecond)) {
        return kInvalidParameter;
    }
    strHostName = strHost;
    strClientName = strClient;
    nPort = nFirst;
    nFlags = nSecond;
    return 0;
}

TQClient::TQClient(const std::string &strName, bool, unsigned long) {
    m_info.strName = strName;
}

TQClient::TQClient(TQClientInfo info) : m_info(std::move(info)) {}

int TQClient::getNetworkHostnameMangled(std::string &strMangled, void *) const {
    const std::string &strHost = m_info.strHostName.empty() ? m_info.strName : m_info.strHostName;
    strMangled = MangleHostName(strHost, m_info.strName, 0, 0);
    return 0;
}

int TQClient::getClientName(std::string &strName, void *) const {
    strName = m_info.strName;
    return 0;
}

int TQClient::getClientId(uint64_t &ullId, void *) const {
    ullId = m_info.ullId;
    return 0;
}

int TQClient::getIsNASClient(bool &bNASClient, void *) const {
    bNASClient = m_info.bNASClient;
    return 0;
}

int TQClient::getOSId(uint32_t &nOSId, void *) const {
    nOSId = m_info.nOSId;
    return 0;
}
