// A folder under the system's temporary folder that is removed with everything in it when the
// instance goes out of scope.
#pragma once

#include <string>

namespace idxtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &Path() const { return m_strPath; }
    // Path of a name inside the folder.
    std::string operator/(const std::string &strName) const { return m_strPath + "/" + strName; }

    // Writes a file (creating missing folders) and returns its path.
    std::string WriteFile(const std::string &strRelative, const std::string &strContent) const;

private:
    std::string m_strPath;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string &strPath);

} // namespace idxtest
