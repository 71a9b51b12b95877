#pragma once

// Instruction counts from valgrind's callgrind: exact and unaffected by what
// else the machine is doing, so they hold still where wall-clock times on a
// shared machine do not.

#include "ChildRun.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace bench
{

struct CallgrindRun
{
    double instructions = 0.0;
    ChildResult child;
};

inline bool valgrindInstalled()
{
    return runChild ({ "valgrind", "--version" }).exitCode == 0;
}

// Runs `command` under callgrind and reads the instruction total it recorded.
// With `collectAtStart` false only what the program brackets with
// CALLGRIND_TOGGLE_COLLECT counts.
inline std::optional<CallgrindRun> runUnderCallgrind (const std::vector<std::string>& command, bool collectAtStart)
{
    char outTemplate[] = "/tmp/quillbeat-callgrind-XXXXXX";
    char logTemplate[] = "/tmp/quillbeat-callgrind-log-XXXXXX";
    const auto outFd = mkstemp (outTemplate), logFd = mkstemp (logTemplate);
    if (outFd < 0 || logFd < 0)
        return std::nullopt;
    close (outFd);
    close (logFd);
    const std::string outFile (outTemplate), logFile (logTemplate);

    std::vector<std::string> valgrind { "valgrind", "--tool=callgrind", "--callgrind-out-file=" + outFile,
                                        std::string ("--collect-atstart=") + (collectAtStart ? "yes" : "no") };
    valgrind.insert (valgrind.end(), command.begin(), command.end());

    CallgrindRun run;
    run.child = runChild (valgrind, logFile);

    std::optional<double> total;
    std::ifstream out (outFile);
    for (std::string line; std::getline (out, line);)
        if (line.rfind ("totals:", 0) == 0 || line.rfind ("summary:", 0) == 0)
            total = std::stod (line.substr (line.find (':') + 1));

    if (run.child.exitCode != 0 || ! total.has_value())
    {
        std::cerr << "callgrind run failed; its log:\n" << std::ifstream (logFile).rdbuf() << '\n';
        total.reset();
    }

    std::remove (outFile.c_str());
    std::remove (logFile.c_str());

    if (! total.has_value())
        return std::nullopt;

    run.instructions = *total;
    return run;
}

} // namespace bench
