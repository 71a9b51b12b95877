// Opens Quillbeat's editor the way a Linux DAW does: through IPlugView,
// embedded into an X11 window, with the host's run loop driving it.

#include "Vst3EditorHost.h"

#include <filesystem>
#include <fstream>

namespace
{
using namespace vst3host;

// Processes this one started that are still running (the web engine's, here).
int childProcessCount()
{
    int count = 0;

    for (const auto& task : std::filesystem::directory_iterator ("/proc/self/task"))
    {
        std::ifstream children (task.path() / "children");
        for (int pid; children >> pid;)
            ++count;
    }

    return count;
}

using Vst3Editor = Vst3Module;

TEST_F (Vst3Editor, ViewDescribesItsSizeAndLimits)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());

    IPtr<IPlugView> view = owned (instance.controller->createView (ViewType::kEditor));
    ASSERT_TRUE (view);

    EXPECT_EQ (view->isPlatformTypeSupported (kPlatformTypeX11EmbedWindowID), kResultTrue);
    EXPECT_EQ (view->canResize(), kResultTrue);

    ViewRect size {};
    ASSERT_EQ (view->getSize (&size), kResultOk);
    EXPECT_EQ (size.getWidth(), 900);
    EXPECT_EQ (size.getHeight(), 640);

    const struct
    {
        int width, height;
        int expectedWidth, expectedHeight;
    } cases[] = {
        { 800, 600, 800, 600 },
        { 5000, 3000, 1920, 1080 },
        { 100, 100, 600, 400 },
        { 599, 1081, 600, 1080 },
    };

    for (const auto& c : cases)
    {
        ViewRect rect (0, 0, c.width, c.height);
        EXPECT_EQ (view->checkSizeConstraint (&rect), kResultTrue);
        EXPECT_EQ (rect.getWidth(), c.expectedWidth) << c.width << "x" << c.height;
        EXPECT_EQ (rect.getHeight(), c.expectedHeight) << c.width << "x" << c.height;
    }
}

TEST_F (Vst3Editor, OpensRunsAndClosesRepeatedlyInAnEmbeddedWindow)
{
    HostWindow window;
    ASSERT_TRUE (window.valid()) << "no X display";
    HostFrame frame;

    Instance instance;
    ASSERT_TRUE (instance.valid());

    const int openMilliseconds[] = { 0, 20, 30, 40, 50, 80, 120, 200, 350, 500, 520, 560, 600, 700, 760, 900, 1200, 1500, 2000, 40 };

    for (const auto ms : openMilliseconds)
    {
        SCOPED_TRACE (ms);
        IPtr<IPlugView> view = owned (instance.controller->createView (ViewType::kEditor));
        ASSERT_TRUE (view);
        ASSERT_EQ (view->setFrame (&frame), kResultTrue);
        ASSERT_EQ (view->attached (window.handle(), kPlatformTypeX11EmbedWindowID), kResultTrue);

        // Hosts size the view as they embed it.
        ViewRect rect (0, 0, 820, 610);
        view->onSize (&rect);

        frame.runFor (std::chrono::milliseconds (ms));

        EXPECT_EQ (view->removed(), kResultTrue);
        view->setFrame (nullptr);
        view = nullptr;
        frame.runFor (std::chrono::milliseconds (100));
    }

    // The plug-in's message loop ran on the host's run loop, and nothing of the web engine outlives the editor.
    EXPECT_GT (frame.eventHandlerRegistrations, 0);
    EXPECT_EQ (childProcessCount(), 0);
    EXPECT_EQ (instance.savedState().rfind ("{\r\n  \"windowWidth\": 820,\r\n  \"windowHeight\": 610,", 0), 0u);
}
} // namespace
