#include "EditorFixture.h"

#include "../support/ProcessTable.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace
{
// The pids of running processes whose parent is `parent`.
std::vector<int> childrenOf (int parent)
{
    std::vector<int> children;

    for (const auto& [pid, process] : readProcessTable())
        if (process.parent == parent && ! process.ended)
            children.push_back (pid);

    return children;
}

bool isRunning (int pid)
{
    const auto processes = readProcessTable();
    const auto found = processes.find (pid);
    return found != processes.end() && ! found->second.ended;
}

bool waitFor (const std::function<bool()>& condition, int timeoutMilliseconds)
{
    for (int waited = 0; waited < timeoutMilliseconds; waited += 50)
    {
        if (condition())
            return true;
        juce::Thread::sleep (50);
    }
    return condition();
}

// A host that crashes must not leave the web engine behind, least of all one
// spinning at full CPU for ever.
TEST (EditorLifecycle, WebEngineEndsWhenItsHostIsKilled)
{
    auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName().toStdString();
    std::string mode = "--hold-editor-open";
    char* arguments[] = { self.data(), mode.data(), nullptr };

    pid_t host = 0;
    ASSERT_EQ (posix_spawn (&host, self.c_str(), nullptr, nullptr, arguments, environ), 0);

    std::vector<int> engine;
    const auto started = waitFor ([&] { engine = childrenOf (host); return ! engine.empty(); }, 15000);

    kill (host, SIGKILL);
    waitpid (host, nullptr, 0);
    ASSERT_TRUE (started) << "the host never started its web engine";

    const auto ended = waitFor ([&] { return std::none_of (engine.begin(), engine.end(), isRunning); }, 5000);

    for (const auto pid : engine)
        kill (pid, SIGKILL); // whatever is left, so a failure does not outlive the test

    EXPECT_TRUE (ended) << "the web engine kept running after its host was killed";
}

// A host may close the editor at any moment: right after opening (while the
// web view is still being embedded), around the first tick and its delayed
// layout call, and after pushes have started.
TEST (EditorLifecycle, ClosingAtAnyMomentIsHarmless)
{
    installTestPage();
    QuillbeatProcessor processor;
    AudioThread audio (processor);

    for (const int openMilliseconds : { 0, 20, 30, 40, 50, 20, 30, 40, 50, 300, 520, 560, 760, 2000 })
    {
        SCOPED_TRACE (openMilliseconds);
        {
            OpenEditor editor (processor);
            // Hosts size the window as they embed it, which lays the view out at once.
            editor->setSize (editor->getWidth() + 20, editor->getHeight() + 10);
            pumpFor (openMilliseconds);
        }
        pumpFor (150); // anything the closed editor left queued comes due now
    }

    // The engine data folder was made once and is reused.
    EXPECT_TRUE (juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                     .getChildFile ("Quillbeat/WebView2").isDirectory());
}
} // namespace
