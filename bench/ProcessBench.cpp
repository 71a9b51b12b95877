// The audio thread's cost: one process() call through the VST3 interface,
// stereo, 512 samples, under a moving transport, for Quillbeat and for the
// empty passthrough baseline. Instructions per call come from callgrind (and
// from the CPU's own counter where the machine exposes it); wall-clock
// medians stand beside them.
//
//   QuillbeatProcessBench                            prints the table rows
//   QuillbeatProcessBench --count-instructions B     (under callgrind) processes
//                                                    with bundle B, collecting only
//                                                    inside process()

#include "BenchTable.h"
#include "Callgrind.h"
#include "ChildRun.h"
#include "HardwareInstructions.h"
#include "Vst3Plugin.h"

#include <valgrind/callgrind.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>

namespace
{
using namespace bench;

constexpr int warmUpCalls = 256;
constexpr int countedCalls = 1000;
constexpr int timedRounds = 400, callsPerRound = 100;

// One bundle loaded, one instance of it processing.
struct ProcessingPlugin
{
    explicit ProcessingPlugin (const std::string& bundle)
        : module (loadModule (bundle)), instance (module->getFactory(), host), processing (instance)
    {
        for (int i = 0; i < warmUpCalls; ++i)
            if (processBlock() != kResultOk)
                throw std::runtime_error (bundle + " does not process");

        if (! processing.passedThrough())
            throw std::runtime_error (bundle + " does not pass its input through");
    }

    tresult processBlock() noexcept
    {
        processing.advanceTransport();
        return processing.process();
    }

    VST3::Hosting::Module::Ptr module;
    IPtr<HostApplication> host = owned (new HostApplication());
    PluginInstance instance;
    StereoProcessing processing;
};

int countInstructionsInsideProcess (const std::string& bundle)
{
    if (! RUNNING_ON_VALGRIND)
    {
        std::cerr << "--count-instructions only means something under callgrind\n";
        return 2;
    }

    ProcessingPlugin plugin (bundle);

    for (int i = 0; i < countedCalls; ++i)
    {
        plugin.processing.advanceTransport();
        CALLGRIND_TOGGLE_COLLECT;
        plugin.processing.process();
        CALLGRIND_TOGGLE_COLLECT;
    }

    std::cout << countedCalls << '\n';
    return 0;
}

std::optional<double> callgrindInstructionsPerCall (const std::string& bundle)
{
    const auto run = runUnderCallgrind ({ ownExecutable(), "--count-instructions", bundle }, false);
    const auto calls = run.has_value() ? numberIn (run->child) : std::nullopt;
    if (! calls.has_value() || *calls <= 0)
        return std::nullopt;
    return run->instructions / *calls;
}

// Both plug-ins loaded in this process, timed in alternating rounds so the
// load others put on the machine falls on both alike.
std::pair<double, double> wallClockMedians (ProcessingPlugin& quillbeat, ProcessingPlugin& baseline)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> quillbeatNs, baselineNs;

    const auto timeRound = [] (ProcessingPlugin& plugin, std::vector<double>& perCall)
    {
        const auto start = Clock::now();
        for (int i = 0; i < callsPerRound; ++i)
            plugin.processBlock();
        perCall.push_back (std::chrono::duration<double, std::nano> (Clock::now() - start).count() / callsPerRound);
    };

    for (int round = 0; round < timedRounds; ++round)
    {
        if (round % 2 == 0)
        {
            timeRound (quillbeat, quillbeatNs);
            timeRound (baseline, baselineNs);
        }
        else
        {
            timeRound (baseline, baselineNs);
            timeRound (quillbeat, quillbeatNs);
        }
    }

    return { median (quillbeatNs), median (baselineNs) };
}

std::optional<std::pair<double, double>> hardwareInstructionMedians (ProcessingPlugin& quillbeat, ProcessingPlugin& baseline)
{
    const HardwareInstructions counter;
    if (! counter.available())
        return std::nullopt;

    std::vector<double> quillbeatCounts, baselineCounts;
    for (int round = 0; round < timedRounds / 10; ++round)
        for (auto [plugin, counts] : { std::pair { &quillbeat, &quillbeatCounts }, std::pair { &baseline, &baselineCounts } })
        {
            counter.start();
            for (int i = 0; i < callsPerRound; ++i)
                plugin->processBlock();
            counts->push_back ((double) counter.stop() / callsPerRound);
        }

    return std::pair { median (quillbeatCounts), median (baselineCounts) };
}

void printRows()
{
    const std::string area = "Audio thread";
    const std::string call = "process(), stereo, 512 samples, moving transport";

    std::pair<double, double> wallClock;
    std::optional<std::pair<double, double>> hardwareCounts;
    {
        ProcessingPlugin quillbeat (QUILLBEAT_VST3_BUNDLE), baseline (BASELINE_VST3_BUNDLE);
        wallClock = wallClockMedians (quillbeat, baseline);
        hardwareCounts = hardwareInstructionMedians (quillbeat, baseline);
    }

    if (valgrindInstalled())
    {
        const auto quillbeat = callgrindInstructionsPerCall (QUILLBEAT_VST3_BUNDLE);
        const auto baseline = callgrindInstructionsPerCall (BASELINE_VST3_BUNDLE);
        print ({ area, call + ": instructions per call (callgrind)", quillbeat ? count (*quillbeat) : "failed",
                 baseline ? count (*baseline) : "failed", quillbeat && baseline ? ratio (*quillbeat, *baseline) : "n/a",
                 "≤ 1.01" });
    }
    else
    {
        print ({ area, call + ": instructions per call (callgrind: valgrind not installed)", "n/a", "n/a", "n/a", "≤ 1.01" });
    }

    if (hardwareCounts.has_value())
        print ({ area, call + ": instructions per call (CPU counter)", count (hardwareCounts->first),
                 count (hardwareCounts->second), ratio (hardwareCounts->first, hardwareCounts->second), "≤ 1.01" });
    else
        print ({ area, call + ": instructions per call (CPU counter: none exposed on this machine)", "n/a", "n/a",
                 "n/a", "≤ 1.01" });

    print ({ area, call + ": wall-clock median per call", duration (wallClock.first), duration (wallClock.second),
             ratio (wallClock.first, wallClock.second), "" });
}
} // namespace

int main (int argc, char** argv)
{
    try
    {
        if (argc == 3 && std::strcmp (argv[1], "--count-instructions") == 0)
            return countInstructionsInsideProcess (argv[2]);

        printRows();
        return 0;
    }
    catch (const std::exception& e)
    {
        std::cerr << "QuillbeatProcessBench: " << e.what() << '\n';
        return 1;
    }
}
