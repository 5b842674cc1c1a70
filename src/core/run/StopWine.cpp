#include "core/run/StopWine.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace corvane {

namespace {

// Runs `wineserver option` with `env`; its exit status, or -1 (and `error`) when it
// could not be run or did not exit.
int RunWineServer(const char* option, const std::vector<char*>& env, std::string& error) {
    char program[] = "wineserver";
    std::string flag = option;
    char* argv[] = {program, flag.data(), nullptr};
    pid_t pid = 0;
    if (const int e = ::posix_spawnp(&pid, program, nullptr, nullptr, argv, env.data()); e != 0) {
        error = std::string("wineserver cannot be run: ") + std::strerror(e);
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            error = std::string("wineserver ") + option + ": " + std::strerror(errno);
            return -1;
        }
    if (!WIFEXITED(status)) {
        error = std::string("wineserver ") + option + " did not end normally";
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace

std::string StopWine(const std::string& prefix) {
    // The environment as it is, with WINEPREFIX naming the prefix.
    std::vector<std::string> texts;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "WINEPREFIX=", 11) != 0) texts.emplace_back(*e);
    texts.push_back("WINEPREFIX=" + prefix);
    std::vector<char*> env;
    for (std::string& text : texts)
        env.push_back(text.data());
    env.push_back(nullptr);
    std::string error;
    // -k fails when no server runs: what counts is that none runs once -w returns.
    if (RunWineServer("-k", env, error) < 0) return error;
    const int waited = RunWineServer("-w", env, error);
    if (waited < 0) return error;
    if (waited != 0) return "wineserver -w ended with status " + std::to_string(waited);
    return {};
}

} // namespace corvane
