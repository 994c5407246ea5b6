// Runs a program as a child process, for the tests that run the example programs and scripts as
// a user does: given arguments and environment, its standard output and error into one file.
#pragma once

#include <string>
#include <vector>

namespace idxtest {

// Runs vecArgv[0] (a path) with the arguments and waits for it. The child gets pEnvironment
// ("NAME=value" texts) as its whole environment, or this process's when it is null. Returns its
// exit status, or -1 when it could not be started or did not exit normally.
int RunProgram(const std::vector<std::string> &vecArgv, const std::string &strOutput,
               const std::vector<std::string> *pEnvironment = nullptr);

// This process's environment without the variables named in vecRemoved, then vecAdded.
std::vector<std::string> EnvironmentWith(const std::vector<std::string> &vecRemoved,
                                         const std::vector<std::string> &vecAdded);

} // namespace idxtest
