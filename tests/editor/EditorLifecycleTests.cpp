#include "EditorFixture.h"

namespace
{
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
