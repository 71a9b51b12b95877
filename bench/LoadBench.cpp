// What a host scanning plug-ins pays: load the module, read its factory,
// create one instance (component and controller, connected) and destroy it,
// then unload the module. Each load happens in a fresh process, alternating
// Quillbeat and the empty passthrough baseline; medians and their ratio are
// printed, and instruction counts of the same work from callgrind beside them.
//
//   QuillbeatLoadBench                     prints the table rows
//   QuillbeatLoadBench --load-once B       loads bundle B once and prints the
//                                          nanoseconds it took; "none" loads
//                                          nothing, to count the harness alone

#include "BenchTable.h"
#include "Callgrind.h"
#include "ChildRun.h"
#include "Vst3Plugin.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

namespace
{
using namespace bench;

constexpr int rounds = 25;
constexpr const char* nothing = "none";

int loadOnce (const std::string& bundle)
{
    const auto start = std::chrono::steady_clock::now();

    if (bundle != nothing)
    {
        auto module = loadModule (bundle);
        auto host = owned (new HostApplication());
        const PluginInstance instance (module->getFactory(), host);
    }

    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::cout << std::chrono::duration<double, std::nano> (elapsed).count() << '\n';
    return 0;
}

std::optional<double> timeOneLoad (const std::string& bundle)
{
    return numberIn (runChild ({ ownExecutable(), "--load-once", bundle }));
}

std::optional<double> callgrindInstructions (const std::string& bundle)
{
    const auto run = runUnderCallgrind ({ ownExecutable(), "--load-once", bundle }, true);
    return run.has_value() ? std::optional<double> (run->instructions) : std::nullopt;
}

void printRows()
{
    const std::string area = "Load";
    // With a display the framework also connects to the X server while loading,
    // which a desktop host pays too; scripts/bench.sh measures both ways.
    const auto* display = std::getenv ("DISPLAY");
    const std::string work = std::string ("module load + factory + one instance created and destroyed, ")
                             + (display != nullptr && *display != 0 ? "X display" : "no display");

    // One untimed load of each first, so both start from a warm file cache.
    timeOneLoad (QUILLBEAT_VST3_BUNDLE);
    timeOneLoad (BASELINE_VST3_BUNDLE);

    std::vector<double> quillbeatNs, baselineNs;
    for (int round = 0; round < rounds; ++round)
    {
        const auto first = round % 2 == 0;
        for (const auto isQuillbeat : { first, ! first })
        {
            const auto ns = timeOneLoad (isQuillbeat ? QUILLBEAT_VST3_BUNDLE : BASELINE_VST3_BUNDLE);
            if (! ns.has_value())
                throw std::runtime_error ("a load in a child process failed");
            (isQuillbeat ? quillbeatNs : baselineNs).push_back (*ns);
        }
    }

    const auto quillbeatMedian = median (quillbeatNs), baselineMedian = median (baselineNs);
    print ({ area, work + ": wall-clock median of " + std::to_string (rounds) + " fresh processes",
             duration (quillbeatMedian), duration (baselineMedian), ratio (quillbeatMedian, baselineMedian), "≤ 1.05" });

    if (! valgrindInstalled())
        return;

    // The harness's own start-up and exit, counted alone and taken off.
    const auto harness = callgrindInstructions (nothing);
    const auto quillbeat = callgrindInstructions (QUILLBEAT_VST3_BUNDLE);
    const auto baseline = callgrindInstructions (BASELINE_VST3_BUNDLE);

    if (harness && quillbeat && baseline)
        print ({ area, work + ": instructions, all threads (callgrind)", count (*quillbeat - *harness),
                 count (*baseline - *harness), ratio (*quillbeat - *harness, *baseline - *harness), "≤ 1.05" });
    else
        print ({ area, work + ": instructions, all threads (callgrind)", "failed", "failed", "n/a", "≤ 1.05" });
}
} // namespace

int main (int argc, char** argv)
{
    try
    {
        if (argc == 3 && std::strcmp (argv[1], "--load-once") == 0)
            return loadOnce (argv[2]);

        printRows();
        return 0;
    }
    catch (const std::exception& e)
    {
        std::cerr << "QuillbeatLoadBench: " << e.what() << '\n';
        return 1;
    }
}
