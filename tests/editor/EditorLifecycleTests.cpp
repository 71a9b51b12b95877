#include "EditorFixture.h"

#include "../support/ProcessTable.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <optional>
#include <spawn.h>
#include <sys/prctl.h>
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

// The names of this process's threads, sorted.
std::multiset<std::string> threadNames()
{
    std::multiset<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator ("/proc/self/task"))
    {
        std::ifstream comm (task.path() / "comm");
        std::string name;
        std::getline (comm, name);
        names.insert (name);
    }
    return names;
}

std::string joined (const std::multiset<std::string>& names)
{
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// A host may close the editor at any moment: while the web engine is still
// starting (the message thread does not wait for it), as its window is
// embedded and the page loads, around the first tick and its delayed layout
// call, and after pushes have started. Each close leaves no engine process
// and no thread behind, and the next editor works.
TEST (EditorLifecycle, ClosingAtAnyMomentIsHarmless)
{
    // Engine processes whose parent has gone are adopted here, so they count too.
    ASSERT_EQ (prctl (PR_SET_CHILD_SUBREAPER, 1), 0);
    installTestPage();
    QuillbeatProcessor processor;
    AudioThread audio (processor);
    std::optional<std::multiset<std::string>> threadsAfterAClose;

    // -1: as soon as the engine's window is in the view, while the page loads.
    for (const int openMilliseconds : { 0, 1, 5, 20, 50, 100, 300, 1000, -1, 30, 40, 520, 560, 760, 2000, -1, 0 })
    {
        SCOPED_TRACE (openMilliseconds);
        {
            OpenEditor editor (processor);
            // Hosts size the window as they embed it, which lays the view out at once.
            editor->setSize (editor->getWidth() + 20, editor->getHeight() + 10);

            if (openMilliseconds >= 0)
                pumpFor (openMilliseconds);
            else
                ASSERT_TRUE (pumpUntil ([&] { return editor->getWebView()->getNumChildComponents() > 0; }, 15000));
        }

        EXPECT_TRUE (pumpUntil ([] { return runningDescendantsReapingOrphans().empty(); }, 5000))
            << "a web-engine process outlived the editor";

        // The first close fixes the framework's own threads (its timer thread).
        // Closing hands the engine's process to a thread that reaps it and
        // then ends, so this may take a moment.
        if (! threadsAfterAClose.has_value())
        {
            pumpFor (300);
            threadsAfterAClose = threadNames();
        }
        EXPECT_TRUE (pumpUntil ([&] { return threadNames() == *threadsAfterAClose; }, 3000))
            << "threads after the first close: " << joined (*threadsAfterAClose) << "; now: " << joined (threadNames());
    }

    OpenEditor last (processor);
    EXPECT_TRUE (pageBecomes (*last->getWebView(), "window.__events.length > 0", 15000))
        << "the editor after all those closes got no transport";

    // The engine data folder was made once and is reused.
    EXPECT_TRUE (juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                     .getChildFile ("Quillbeat/WebView2").isDirectory());
}
} // namespace
