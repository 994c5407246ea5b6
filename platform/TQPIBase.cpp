// The installation's home folder and its job-results folder.
#include "platform/TQPIBase.h"

#include <cstdlib>
#include <dlfcn.h>

#include "foundation/StringHelpers.h"

namespace {
// Any function of this library: its address tells which file the library was loaded from.
void HomeDirectoryAnchor() {}
} // namespace

std::string TQPI_Base::getHomeDirectory() const {
    const char *szHome = getenv("IDX_HOME_DIR");
    if (szHome && *szHome) {
        return szHome;
    }
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&HomeDirectoryAnchor), &info) != 0 && info.dli_fname) {
        return FXPath::GetParent(info.dli_fname);
    }
    return "/";
}

std::string TQPI_CommClient::getJobResultsDirectory(const std::string &) const {
    return FXPath::Join(TQPI_Base().getHomeDirectory(), "JobResults");
}
