#include <gtest/gtest.h>
#include <juce_gui_extra/juce_gui_extra.h>

#include <cstring>

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
        return juce_gtkWebkitMain (argc, argv);

    juce::JUCEApplicationBase::createInstance = &noApplication;

    ::testing::InitGoogleTest (&argc, argv);

    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
