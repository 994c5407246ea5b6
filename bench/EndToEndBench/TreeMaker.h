// The files the end-to-end benchmark queues: N small files in folders of a thousand, under a
// temporary folder of the run that is removed with everything in it at the end.
#pragma once

#include <string>

namespace idxbench {

// The temporary folder of the run: the file tree, the subclient folder, the stand-in's files.
class ScratchFolder {
public:
    bool Create();
    ~ScratchFolder();
    const std::string &Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// The i-th file of the tree, computed rather than stored so that the list of names does not
// grow the process with N.
std::string FilePath(const std::string &strTree, long long llIndex);

// Makes the folder strTree and llItems files under it, each holding one short line.
bool MakeTree(const std::string &strTree, long long llItems);

} // namespace idxbench
