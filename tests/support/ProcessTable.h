#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

// The processes on this machine, read from /proc: each one's parent and
// whether it has already ended (a zombie nobody has reaped yet).
struct ProcessEntry
{
    int parent = 0;
    bool ended = false;
};

inline std::map<int, ProcessEntry> readProcessTable()
{
    std::map<int, ProcessEntry> table;

    for (const auto& entry : std::filesystem::directory_iterator ("/proc"))
    {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of ("0123456789") != std::string::npos)
            continue;

        std::ifstream statFile (entry.path() / "stat");
        std::string stat ((std::istreambuf_iterator<char> (statFile)), {});
        const auto afterName = stat.rfind (')');
        if (afterName == std::string::npos)
            continue;

        // After the name come the state and the parent's pid.
        std::istringstream fields (stat.substr (afterName + 1));
        std::string state;
        ProcessEntry process;
        fields >> state >> process.parent;
        process.ended = state == "Z";
        table[std::stoi (name)] = process;
    }

    return table;
}

// The running processes below `ancestor`: its children, their children, and so on.
inline std::vector<int> descendantsOf (int ancestor)
{
    const auto table = readProcessTable();
    std::vector<int> found { ancestor };

    for (size_t next = 0; next < found.size(); ++next)
        for (const auto& [pid, process] : table)
            if (process.parent == found[next] && ! process.ended)
                found.push_back (pid);

    found.erase (found.begin());
    return found;
}

// For a process that adopts the orphans below it (PR_SET_CHILD_SUBREAPER):
// reaps those that have ended, then lists the running processes below it, so
// a process whose parent has gone still counts.
inline std::vector<int> runningDescendantsReapingOrphans()
{
    while (waitpid (-1, nullptr, WNOHANG) > 0) {}
    return descendantsOf (getpid());
}
