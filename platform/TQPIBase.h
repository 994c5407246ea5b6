// Where the installation this process runs from lives.
#pragma once

#include <string>

#include "foundation/Export.h"

class IDX_EXPORT TQPI_Base {
public:
    TQPI_Base() = default;

    // The installation's home folder: the environment variable IDX_HOME_DIR when it is set and
    // not empty, otherwise the folder that holds the platform library.
    std::string getHomeDirectory() const;
};
