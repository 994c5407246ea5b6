// The framework's directory-enumeration handle, held by auto_find_handle and filled by
// FXFile::TQFindFirstFile.
//
// The enumeration never changes the process's current folder (that would race with every other
// thread), so CloseDirAndChangeDir has no folder to restore: it closes the listing and frees the
// handle.
#pragma once

#include <dirent.h>
#include <string>

#include "foundation/Export.h"

struct DIR_Wrapper {
    DIR *m_pDir = nullptr;
    std::string m_strFolder; // as given to the enumeration; the parent of every listed entry
};

// Closes the listing and frees the handle; 0, or -1 with errno when closedir failed. A null
// handle is ignored.
IDX_EXPORT int CloseDirAndChangeDir(DIR_Wrapper *pWrapper);
