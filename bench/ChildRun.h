#pragma once

// Runs another program (usually this one again, in a measuring mode) and
// collects what it prints. A fresh process is the only way to measure a
// module's first load, and the way to put one measurement under valgrind.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace bench
{

struct ChildResult
{
    int exitCode = -1;
    std::string output;
};

// Runs `command` (searched on PATH) with its standard output captured and its
// standard error sent to `errorFile`, or discarded when that is empty.
inline ChildResult runChild (const std::vector<std::string>& command, const std::string& errorFile = {})
{
    int pipeEnds[2];
    if (pipe (pipeEnds) != 0)
        return {};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose (&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose (&actions, pipeEnds[1]);
    posix_spawn_file_actions_addopen (&actions, STDERR_FILENO, errorFile.empty() ? "/dev/null" : errorFile.c_str(),
                                      O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<char*> argv;
    for (const auto& argument : command)
        argv.push_back (const_cast<char*> (argument.c_str()));
    argv.push_back (nullptr);

    pid_t pid = 0;
    const auto spawned = posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);
    close (pipeEnds[1]);

    ChildResult result;
    char buffer[4096];
    for (ssize_t n; (n = read (pipeEnds[0], buffer, sizeof (buffer))) > 0;)
        result.output.append (buffer, (size_t) n);
    close (pipeEnds[0]);

    int status = 0;
    if (spawned == 0 && waitpid (pid, &status, 0) == pid && WIFEXITED (status))
        result.exitCode = WEXITSTATUS (status);

    return result;
}

// This program's own path, for running it again in another mode.
inline std::string ownExecutable()
{
    std::vector<char> path (4096);
    const auto length = readlink ("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string (path.data(), (size_t) length) : std::string();
}

// The first number a child printed, if it printed one.
inline std::optional<double> numberIn (const ChildResult& result)
{
    if (result.exitCode != 0)
        return std::nullopt;

    char* end = nullptr;
    const auto value = std::strtod (result.output.c_str(), &end);
    return end != result.output.c_str() ? std::optional<double> (value) : std::nullopt;
}

} // namespace bench
