#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char **environ;

namespace idxtest {

namespace {

// Pointers into the texts, ending with the null pointer that exec expects.
std::vector<char *> PointerList(std::vector<std::string> &vecTexts) {
    std::vector<char *> vecPointers;
    for (std::string &strText : vecTexts) {
        vecPointers.push_back(&strText[0]);
    }
    vecPointers.push_back(nullptr);
    return vecPointers;
}

} // namespace

int RunProgram(const std::vector<std::string> &vecArgv, const std::string &strOutput,
               const std::vector<std::string> *pEnvironment) {
    if (vecArgv.empty()) {
        return -1;
    }
    std::vector<std::string> vecArgs = vecArgv;
    std::vector<char *> vecArgPointers = PointerList(vecArgs);
    std::vector<std::string> vecEnvironment;
    std::vector<char *> vecEnvironmentPointers;
    if (pEnvironment) {
        vecEnvironment = *pEnvironment;
        vecEnvironmentPointers = PointerList(vecEnvironment);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, strOutput.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int nSpawn =
        posix_spawn(&pid, vecArgPointers[0], &actions, nullptr, vecArgPointers.data(),
                    pEnvironment ? vecEnvironmentPointers.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0) {
        return -1;
    }
    int nStatus = 0;
    if (waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus)) {
        return -1;
    }
    return WEXITSTATUS(nStatus);
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string> &vecRemoved,
                                         const std::vector<std::string> &vecAdded) {
    std::vector<std::string> vecEnvironment;
    for (char **ppEntry = environ; *ppEntry != nullptr; ++ppEntry) {
        const std::string strEntry = *ppEntry;
        const std::string strName = strEntry.substr(0, strEntry.find('='));
        if (std::find(vecRemoved.begin(), vecRemoved.end(), strName) == vecRemoved.end()) {
            vecEnvironment.push_back(strEntry);
        }
    }
    vecEnvironment.insert(vecEnvironment.end(), vecAdded.begin(), vecAdded.end());
    return vecEnvironment;
}

} // namespace idxtest
