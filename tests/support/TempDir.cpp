#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace idxtest {

TempDir::TempDir() {
    const char *szBase = getenv("TMPDIR");
    std::string strTemplate = std::string(szBase && *szBase ? szBase : "/tmp") + "/idxtest-XXXXXX";
    if (!mkdtemp(strTemplate.data())) {
        throw std::runtime_error("mkdtemp failed for " + strTemplate);
    }
    m_strPath = strTemplate;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

std::string TempDir::WriteFile(const std::string &strRelative,
                               const std::string &strContent) const {
    std::filesystem::path path = std::filesystem::path(m_strPath) / strRelative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << strContent;
    return path.string();
}

std::string ReadWholeFile(const std::string &strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace idxtest
