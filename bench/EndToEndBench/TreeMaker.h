// The files the end-to-end benchmark queues: N files in folders of a thousand (empty ones, or of a
// given size with generated content), under a temporary folder of the run that is removed with
// everything in it at the end.
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

// The index of the first file name of the tree ("f" and seven digits, then ".txt") that strText
// holds, as in a request that names its file; false where it holds none.
bool FileNumberInTarget(const std::string &strText, long long &llIndex);

// Makes the folder strTree and llItems files under it, each holding llFileBytes of generated
// bytes. Empty files (llFileBytes 0) own no disk blocks, so that a tree of a million is made and
// removed in seconds even where every freed block is discarded on the device; a metadata job
// reads their status, never their content.
bool MakeTree(const std::string &strTree, long long llItems, long long llFileBytes = 0);

// A file of llBytes that takes no room on the disk (it reads as zeros).
bool MakeSparseFile(const std::string &strPath, long long llBytes);

// Reads a file to its end once, so that the page cache holds it: a file read afterwards is
// served at memory speed, whatever the disk (or, for a sparse file, the system's filling of
// its pages with zeros) would cost.
bool ReadIntoCache(const std::string &strPath);

} // namespace idxbench
