// Opens and closes the editor 200 times while audio runs, with hold times from
// none to two seconds, as a validator or a restless user would.

#include "EditorFixture.h"

#include "../support/ProcessTable.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>

namespace
{
double residentMiB()
{
    std::ifstream statm ("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return (double) resident * (double) sysconf (_SC_PAGESIZE) / (1024.0 * 1024.0);
}

bool noWebEngineWithin (int milliseconds)
{
    return pumpUntil ([] { return runningDescendantsReapingOrphans().empty(); }, milliseconds);
}

TEST (EditorEndurance, TwoHundredOpenAndCloseCyclesWithAudioRunning)
{
    constexpr int cycles = 200;
    // Memory the host may gain between the first close and the last: a leak
    // of 50 KiB a cycle would exceed it. (Measured: under half a MiB.)
    constexpr double allowedGrowthMiB = 10.0;
    // From closing while the engine is still starting to long after the page is up.
    const int holdMilliseconds[] = { 0, 2000, 1, 500, 5, 1000, 20, 300, 50, 100 };

    ASSERT_EQ (prctl (PR_SET_CHILD_SUBREAPER, 1), 0);
    installTestPage();
    QuillbeatProcessor processor;
    AudioThread audio (processor);

    double afterFirstClose = 0.0;
    int pagesReached = 0;

    for (int cycle = 0; cycle < cycles; ++cycle)
    {
        const auto hold = holdMilliseconds[(size_t) cycle % std::size (holdMilliseconds)];
        SCOPED_TRACE ("cycle " + std::to_string (cycle) + ", held " + std::to_string (hold) + " ms");
        {
            OpenEditor editor (processor);
            ASSERT_NE (editor->getWebView(), nullptr);
            pumpFor (hold);

            // The longest holds also prove the page is alive and fed.
            if (hold == 2000 && evaluateInPage (*editor->getWebView(), "window.__events.length > 0", 3000) == juce::var (true))
                ++pagesReached;
        }

        ASSERT_TRUE (noWebEngineWithin (5000)) << "a web-engine process outlived the editor";

        if (cycle == 0)
            afterFirstClose = residentMiB();
    }

    pumpFor (500);
    const auto afterLastClose = residentMiB();
    std::cout << "resident memory after the first close " << afterFirstClose << " MiB, after the last "
              << afterLastClose << " MiB" << std::endl;

    EXPECT_LE (afterLastClose - afterFirstClose, allowedGrowthMiB);
    EXPECT_EQ (pagesReached, cycles / (int) std::size (holdMilliseconds));
}
} // namespace
