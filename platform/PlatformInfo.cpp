#include "platform/PlatformInfo.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/LogWriter.h"
#include "platform/PlatformSettingsStore.h"
#include "platform/StringFormat.h"

namespace {

// A settings file is a few hundred lines; anything far larger is not one.
constexpr off_t kMaxSettingsFileSize = 1024 * 1024;
// Junk lines are quoted in the log only up to this length.
constexpr size_t kMaxQuotedLine = 200;

std::string ToLower(std::string strText) {
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strText;
}

std::string Trim(const std::string &strText) {
    const char *szBlanks = " \t\r\n\f\v";
    size_t nFirst = strText.find_first_not_of(szBlanks);
    if (nFirst == std::string::npos) {
        return std::string();
    }
    size_t nLast = strText.find_last_not_of(szBlanks);
    return strText.substr(nFirst, nLast - nFirst + 1);
}

// Decimal or "0x" hexadecimal, optionally signed, nothing else around it; false on overflow.
bool ParseNumber(const std::string &strText, unsigned long &ulValue) {
    size_t nPos = 0;
    bool bNegative = false;
    if (nPos < strText.size() && (strText[nPos] == '+' || strText[nPos] == '-')) {
        bNegative = strText[nPos] == '-';
        ++nPos;
    }
    unsigned nBase = 10;
    if (strText.size() - nPos > 2 && strText[nPos] == '0' &&
        (strText[nPos + 1] == 'x' || strText[nPos + 1] == 'X')) {
        nBase = 16;
        nPos += 2;
    }
    if (nPos >= strText.size()) {
        return false;
    }
    unsigned long long ullValue = 0;
    for (; nPos < strText.size(); ++nPos) {
        unsigned char c = static_cast<unsigned char>(strText[nPos]);
        unsigned nDigit;
        if (std::isdigit(c)) {
            nDigit = c - '0';
        } else if (nBase == 16 && std::isxdigit(c)) {
            nDigit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        } else {
            return false;
        }
        if (ullValue > (UINT64_MAX - nDigit) / nBase) {
            return false;
        }
        ullValue = ullValue * nBase + nDigit;
    }
    ulValue = static_cast<unsigned long>(bNegative ? 0 - ullValue : ullValue);
    return true;
}

} // namespace

bool CPlatformSettingsStore::CFileSignature::operator==(const CFileSignature &other) const {
    return strPath == other.strPath && bReadable == other.bReadable && dev == other.dev &&
           ino == other.ino && size == other.size && llModifiedNs == other.llModifiedNs;
}

CPlatformSettingsStore &CPlatformSettingsStore::Instance() {
    static CPlatformSettingsStore store;
    return store;
}

CPlatformSettingsStore::CKey CPlatformSettingsStore::MakeKey(const std::string &strSection,
                                                             const std::string &strName) {
    return CKey(ToLower(Trim(strSection)), ToLower(Trim(strName)));
}

CPlatformSettingsStore::CFileSignature CPlatformSettingsStore::CurrentSignature() {
    CFileSignature signature;
    const char *szPath = getenv("IDX_PLATFORM_SETTINGS");
    if (szPath == nullptr || *szPath == '\0') {
        return signature;
    }
    signature.strPath = szPath;
    struct stat st;
    if (stat(szPath, &st) == 0 && S_ISREG(st.st_mode)) {
        signature.bReadable = true;
        signature.dev = st.st_dev;
        signature.ino = st.st_ino;
        signature.size = st.st_size;
        signature.llModifiedNs =
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return signature;
}

void CPlatformSettingsStore::ReloadIfChanged(std::vector<std::string> &vecProblems) {
    CFileSignature signature = CurrentSignature();
    if (m_bLoaded && signature == m_fileSignature) {
        return;
    }
    m_bLoaded = true;
    m_fileSignature = signature;
    m_mapFileValues.clear();
    if (signature.strPath.empty()) {
        return;
    }
    if (!signature.bReadable) {
        vecProblems.push_back(FXFormat(
            "Platform settings file [%s] is not a readable file; no settings taken from it",
            signature.strPath.c_str()));
        return;
    }
    if (signature.size > kMaxSettingsFileSize) {
        vecProblems.push_back(FXFormat("Platform settings file [%s] is too large, size=[%lld], "
                                       "limit=[%lld]; no settings taken from it",
                                       signature.strPath.c_str(),
                                       static_cast<long long>(signature.size),
                                       static_cast<long long>(kMaxSettingsFileSize)));
        return;
    }
    LoadFile(signature.strPath, vecProblems);
}

void CPlatformSettingsStore::LoadFile(const std::string &strPath,
                                      std::vector<std::string> &vecProblems) {
    std::ifstream file(strPath);
    if (!file) {
        vecProblems.push_back(
            FXFormat("Failed to open platform settings file [%s]", strPath.c_str()));
        return;
    }
    std::string strLine;
    std::string strSection;
    bool bInSection = false;
    size_t nLineNumber = 0;
    size_t nBytesRead = 0;
    while (std::getline(file, strLine)) {
        ++nLineNumber;
        // The file may grow between the size test and this read.
        nBytesRead += strLine.size() + 1;
        if (nBytesRead > static_cast<size_t>(kMaxSettingsFileSize)) {
            vecProblems.push_back(
                FXFormat("Platform settings file [%s] grew past its limit; lines after %zu ignored",
                         strPath.c_str(), nLineNumber - 1));
            break;
        }
        std::string strText = Trim(strLine);
        if (strText.empty() || strText[0] == ';' || strText[0] == '#') {
            continue;
        }
        const char *szProblem = nullptr;
        if (strText[0] == '[') {
            std::string strName =
                strText.back() == ']' ? Trim(strText.substr(1, strText.size() - 2)) : "";
            if (strName.empty()) {
                szProblem = "not a section header";
            } else {
                strSection = strName;
                bInSection = true;
            }
        } else {
            size_t nEquals = strText.find('=');
            std::string strName =
                nEquals == std::string::npos ? "" : Trim(strText.substr(0, nEquals));
            if (strName.empty()) {
                szProblem = "not a name=value line";
            } else if (!bInSection) {
                szProblem = "value outside any section";
            } else {
                std::string strValue = Trim(strText.substr(nEquals + 1));
                if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"') {
                    strValue = strValue.substr(1, strValue.size() - 2);
                }
                m_mapFileValues[MakeKey(strSection, strName)] = strValue;
            }
        }
        if (szProblem != nullptr) {
            vecProblems.push_back(
                FXFormat("Skipping line %zu of platform settings file [%s] (%s): [%s]", nLineNumber,
                         strPath.c_str(), szProblem, strText.substr(0, kMaxQuotedLine).c_str()));
        }
    }
}

std::optional<std::string> CPlatformSettingsStore::Find(const std::string &strSection,
                                                        const std::string &strName) {
    CKey key = MakeKey(strSection, strName);
    std::optional<std::string> value;
    // Problems with the file are logged after the lock is let go, so a log writer that reads
    // settings itself cannot deadlock here.
    std::vector<std::string> vecProblems;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto itOverride = m_mapOverrides.find(key);
        if (itOverride != m_mapOverrides.end()) {
            value = itOverride->second;
        } else {
            ReloadIfChanged(vecProblems);
            auto itValue = m_mapFileValues.find(key);
            if (itValue != m_mapFileValues.end()) {
                value = itValue->second;
            }
        }
    }
    for (const std::string &strProblem : vecProblems) {
        IDX_LOG_ERROR("%s", strProblem.c_str());
    }
    return value;
}

void CPlatformSettingsStore::SetOverride(const std::string &strSection, const std::string &strName,
                                         std::optional<std::string> value) {
    CKey key = MakeKey(strSection, strName);
    std::lock_guard<std::mutex> guard(m_lock);
    m_mapOverrides[key] = std::move(value);
}

void CPlatformSettingsStore::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_mapOverrides.clear();
    m_mapFileValues.clear();
    m_bLoaded = false;
}

int TQPlatformInfo::getNumber(const char *szSection, const char *szName,
                              unsigned long *pValue) const {
    if (szSection == nullptr || szName == nullptr || pValue == nullptr) {
        return 0;
    }
    std::optional<std::string> value = CPlatformSettingsStore::Instance().Find(szSection, szName);
    if (!value) {
        return 0;
    }
    unsigned long ulValue = 0;
    if (!ParseNumber(*value, ulValue)) {
        IDX_LOG_ERROR("Platform setting [%s\\%s] is not a number, value=[%s]; taken as absent",
                      szSection, szName, value->substr(0, kMaxQuotedLine).c_str());
        return 0;
    }
    *pValue = ulValue;
    return 1;
}

int TQPlatformInfo::getString(const char *szSection, const char *szName,
                              std::string &strValue) const {
    if (szSection == nullptr || szName == nullptr) {
        return 0;
    }
    std::optional<std::string> value = CPlatformSettingsStore::Instance().Find(szSection, szName);
    if (!value) {
        return 0;
    }
    strValue = Trim(*value);
    return 1;
}

std::string TQPlatformInfo::getMachineName() const {
    char szName[256] = {};
    if (gethostname(szName, sizeof(szName) - 1) != 0 || szName[0] == '\0') {
        return "localhost";
    }
    return szName;
}
