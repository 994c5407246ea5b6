// Where the installation this process runs from lives, and the folders it keeps for jobs.
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

class IDX_EXPORT TQPI_CommClient {
public:
    TQPI_CommClient() = default;

    // The folder under which the jobs run on the named machine keep their results: "JobResults"
    // in the installation's home folder. One installation serves one machine here, so the name
    // does not change the answer. Nothing is created.
    std::string getJobResultsDirectory(const std::string &strMachineName) const;
};
