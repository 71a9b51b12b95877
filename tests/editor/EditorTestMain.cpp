#include "MessageLoop.h"

#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern "C" int juce_gtkWebkitMain (int argc, const char* const* argv);

namespace
{
juce::JUCEApplicationBase* noApplication() { return nullptr; }
} // namespace

int main (int argc, char** argv)
{
    // The web engine's child process is this program run again, the way a
    // JUCE application starts it. (Inside the plug-in, the framework starts a
    // helper that loads the plug-in's module instead, which cannot be done
    // with an executable.)
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
    {
        // A test can make the engine slow to start, as on a busy machine.
        if (const auto* delay = std::getenv ("QUILLBEAT_TEST_ENGINE_START_DELAY_MS"))
            std::this_thread::sleep_for (std::chrono::milliseconds (std::atoi (delay)));

        return juce_gtkWebkitMain (argc, argv);
    }

    juce::JUCEApplicationBase::createInstance = &noApplication;

    // A host that shows the editor until it is killed, for tests of what
    // happens to the web engine when its host dies.
    if (argc >= 2 && std::strcmp (argv[1], "--hold-editor-open") == 0)
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        QuillbeatProcessor processor;
        QuillbeatEditor editor (processor);
        editor.addToDesktop (0);
        editor.setVisible (true);

        for (;;)
            pumpFor (1000);
    }

    ::testing::InitGoogleTest (&argc, argv);

    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
