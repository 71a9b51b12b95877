// The page's own state as a DAW sees it: a page set marks the project dirty
// through the host's component handler, and a state the host sets reaches the
// open page as an event.

#include "Vst3EditorHost.h"

#include <filesystem>
#include <fstream>
#include <vector>

namespace
{
using namespace vst3host;

// A DAW's component handler, recording what the plug-in tells it.
class RecordingComponentHandler final : public IComponentHandler, public IComponentHandler2
{
public:
    tresult PLUGIN_API queryInterface (const TUID queryIid, void** obj) override
    {
        QUERY_INTERFACE (queryIid, obj, FUnknown::iid, IComponentHandler)
        QUERY_INTERFACE (queryIid, obj, IComponentHandler::iid, IComponentHandler)
        QUERY_INTERFACE (queryIid, obj, IComponentHandler2::iid, IComponentHandler2)
        *obj = nullptr;
        return kNoInterface;
    }

    // Lives on the test's stack for the whole run.
    uint32 PLUGIN_API addRef() override { return 1000; }
    uint32 PLUGIN_API release() override { return 1000; }

    tresult PLUGIN_API beginEdit (ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit (ParamID, ParamValue) override { return kResultOk; }
    tresult PLUGIN_API endEdit (ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent (int32 flags) override
    {
        restarts.push_back (flags);
        return kResultOk;
    }

    tresult PLUGIN_API setDirty (TBool state) override
    {
        dirtyCalls.push_back (state != 0);
        return kResultOk;
    }

    tresult PLUGIN_API requestOpenEditor (FIDString) override { return kResultFalse; }
    tresult PLUGIN_API startGroupEdit() override { return kResultOk; }
    tresult PLUGIN_API finishGroupEdit() override { return kResultOk; }

    std::vector<bool> dirtyCalls;
    std::vector<int32> restarts;
};

// A page in the scratch HOME's web root that sets its state once it loads,
// and answers every load event by setting "ack:" and the loaded text.
void installAcknowledgingPage()
{
    namespace fs = std::filesystem;
    const auto home = std::getenv ("HOME");
    ASSERT_NE (home, nullptr);
    const auto root = fs::path (home) / ".config/Quillbeat/web";
    fs::create_directories (root / "juce");
    fs::copy_file (fs::path (QUILLBEAT_JUCE_FRONTEND_DIR) / "index.js", root / "juce/index.js", fs::copy_options::overwrite_existing);
    fs::copy_file (fs::path (QUILLBEAT_JUCE_FRONTEND_DIR) / "check_native_interop.js", root / "juce/check_native_interop.js",
                   fs::copy_options::overwrite_existing);
    std::ofstream (root / "index.html") << R"html(<!doctype html>
<html><head><script type="module">
  import { getNativeFunction } from './juce/index.js';
  const setPageState = getNativeFunction ('setPageState');
  window.__JUCE__.backend.addEventListener ('pageStateLoaded', (text) => setPageState ('ack:' + text));
  setPageState ('set by the page');
</script></head><body>acknowledging page</body></html>
)html";
}

using Vst3PageState = Vst3Module;

TEST_F (Vst3PageState, PageSetMarksTheProjectDirtyAndAHostLoadReachesThePage)
{
    installAcknowledgingPage();
    HostWindow window;
    ASSERT_TRUE (window.valid()) << "no X display";
    HostFrame frame;
    RecordingComponentHandler handler;

    Instance instance;
    ASSERT_TRUE (instance.valid());
    ASSERT_EQ (instance.controller->setComponentHandler (&handler), kResultTrue);

    IPtr<IPlugView> view = owned (instance.controller->createView (ViewType::kEditor));
    ASSERT_TRUE (view);
    ASSERT_EQ (view->setFrame (&frame), kResultTrue);
    ASSERT_EQ (view->attached (window.handle(), kPlatformTypeX11EmbedWindowID), kResultTrue);

    const auto runUntil = [&] (auto condition)
    {
        for (const auto end = Clock::now() + std::chrono::seconds (20); Clock::now() < end;)
        {
            if (condition())
                return true;
            frame.runFor (std::chrono::milliseconds (50));
        }
        return condition();
    };
    const auto savedHolds = [&] (const std::string& webState)
    {
        return instance.savedState().find ("\"webState\": \"" + webState + "\"") != std::string::npos;
    };

    // The page's set: the wrapper marks the project dirty through
    // IComponentHandler2::setDirty, then calls restartComponent with no flags.
    ASSERT_TRUE (runUntil ([&] { return ! handler.dirtyCalls.empty(); })) << "the host never heard of the page's set";
    EXPECT_TRUE (savedHolds ("set by the page")) << instance.savedState();
    EXPECT_EQ (handler.dirtyCalls, std::vector<bool> { true });
    EXPECT_EQ (handler.restarts, std::vector<int32> { 0 });

    // The host loads a project while the editor is open; the page hears of it
    // and acknowledges with a set of its own.
    ASSERT_EQ (instance.component->setState (streamHolding (R"({"windowWidth": 900, "windowHeight": 640, "webState": "from the host"})")),
               kResultOk);
    EXPECT_TRUE (runUntil ([&] { return savedHolds ("ack:from the host"); })) << instance.savedState();

    // Nothing echoes: the page's own set brings no event, so no second acknowledgement.
    frame.runFor (std::chrono::milliseconds (1000));
    EXPECT_TRUE (savedHolds ("ack:from the host")) << instance.savedState();
    EXPECT_EQ (handler.dirtyCalls, (std::vector<bool> { true, true })) << "one notice per set, none for the load";

    EXPECT_EQ (view->removed(), kResultTrue);
    view->setFrame (nullptr);
    view = nullptr;
    frame.runFor (std::chrono::milliseconds (100));
    instance.controller->setComponentHandler (nullptr);
}
} // namespace
