#include "EditorFixture.h"

#include <bridge/PageState.h>

#include <thread>

// The page keeping its own state in the host's project, with the real web
// engine: what it sets is saved, comes back in a new instance and a reopened
// editor, refusals change nothing, and a host's load reaches the open page.

namespace
{
// A page that offers the state functions to the test through the framework's
// own front-end library, and records every load event.
void installPageStatePage()
{
    installTestPage();
    ASSERT_TRUE (webRoot().getChildFile ("index.html").replaceWithText (R"html(<!doctype html>
<html><head><script type="module">
  import { getNativeFunction } from './juce/index.js';
  const functions = { get: getNativeFunction ('getPageState'), set: getNativeFunction ('setPageState') };
  window.__loads = [];
  window.__JUCE__.backend.addEventListener ('pageStateLoaded', (text) => window.__loads.push (text));
  window.__calls = [];
  window.__call = (name, ...args) => {
    const call = { done: false };
    window.__calls.push (call);
    functions[name] (...args).then ((result) => { call.result = result; call.done = true; });
    return window.__calls.length - 1;
  };
  window.__ready = true;
</script></head><body>page state</body></html>
)html"));
}

// Counts the host's "state changed" notifications.
struct ChangeCounter final : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
    {
        changes += details.nonParameterStateChanged ? 1 : 0;
    }

    int changes = 0;
};

juce::String savedWebState (QuillbeatProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    const auto state = quillbeat::decodeSessionState (block.getData(), (int) block.getSize());
    return state.has_value() ? state->webState : "<no state>";
}

class EditorPageState : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installPageStatePage();
        processor.addListener (&counter);
        open (processor);
    }

    void TearDown() override
    {
        editor.reset();
        processor.removeListener (&counter);
    }

    void open (QuillbeatProcessor& p)
    {
        editor = std::make_unique<OpenEditor> (p);
        view = (*editor)->getWebView();
        ASSERT_NE (view, nullptr);
        ASSERT_TRUE (pageBecomes (*view, "window.__ready", 15000)) << "the page never loaded";
    }

    juce::var page (const juce::String& expression)
    {
        const auto v = evaluateInPage (*view, expression);
        EXPECT_TRUE (v.has_value()) << expression;
        return v.value_or (juce::var());
    }

    // Calls a native function from the page (arguments as JavaScript source)
    // and returns the JavaScript expression holding its answer.
    juce::String call (const juce::String& name, const juce::String& arguments)
    {
        const auto index = (int) page ("window.__call ('" + name + "'" + (arguments.isEmpty() ? "" : ", " + arguments) + ")");
        const auto callExpression = "window.__calls[" + juce::String (index) + "]";
        EXPECT_TRUE (pageBecomes (*view, callExpression + ".done", 10000)) << name << " (" << arguments << ") never answered";
        return callExpression + ".result";
    }

    juce::String pageState() { return page (call ("get", {})).toString(); }

    QuillbeatProcessor processor;
    ChangeCounter counter;
    std::unique_ptr<OpenEditor> editor;
    juce::WebBrowserComponent* view = nullptr;
};

// Quotes, control characters, non-ASCII and an emoji all survive the trip.
const auto pageText = juce::String::fromUTF8 ("{\"notes\":\"Bridge at bar 9 \xe2\x80\x94 caf\xc3\xa9 \xf0\x9f\x8e\xb9\\n\\\"ok\\\"\"}");

TEST_F (EditorPageState, SetIsSavedAndComesBackInANewInstanceAndAReopenedEditor)
{
    EXPECT_EQ (pageState(), "");

    const auto result = call ("set", juce::JSON::toString (pageText));
    EXPECT_TRUE ((bool) page (result + ".ok === true && !('error' in " + result + ")"));
    EXPECT_EQ (counter.changes, 1) << "the host is told once";
    EXPECT_EQ (savedWebState (processor), pageText);
    EXPECT_EQ (pageState(), pageText);

    // The editor closed and opened again.
    editor.reset();
    open (processor);
    EXPECT_EQ (pageState(), pageText);

    // A new instance loaded from the saved state.
    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    editor.reset();
    QuillbeatProcessor restored;
    restored.setStateInformation (saved.getData(), (int) saved.getSize());
    open (restored);
    EXPECT_EQ (pageState(), pageText);
    EXPECT_EQ ((int) page ("window.__loads.length"), 0) << "the load came before the editor opened";
    editor.reset();
}

TEST_F (EditorPageState, RefusedSetsSayWhyAndChangeNothing)
{
    const auto before = call ("set", "'kept'");
    ASSERT_TRUE ((bool) page (before + ".ok"));
    juce::MemoryBlock savedBefore;
    processor.getStateInformation (savedBefore);

    const struct
    {
        const char* label;
        juce::String arguments;
        const char* reason;
    } cases[] = {
        { "one byte over the limit", "'\\u00e9'.repeat (524288) + 'x'", "1048577 bytes in UTF-8; the limit is 1048576" },
        { "a number", "42", "must be a string, not a number" },
        { "an object", "{ notes: 'x' }", "must be a string, not an object" },
        { "null", "null", "must be a string, not nothing" },
        { "no argument", "", "must be a string, not nothing" },
    };

    for (const auto& c : cases)
    {
        const auto result = call ("set", c.arguments);
        EXPECT_FALSE ((bool) page (result + ".ok")) << c.label;
        EXPECT_TRUE (page (result + ".error").toString().contains (c.reason)) << c.label << ": " << page (result + ".error").toString();

        juce::MemoryBlock saved;
        processor.getStateInformation (saved);
        EXPECT_EQ (saved, savedBefore) << c.label;
    }

    // Text the framework's JSON reader cannot take (a lone surrogate, a NUL)
    // never reaches the plug-in: the call is dropped unanswered, which is why
    // the page's client refuses such text itself. Calls are handled in order,
    // so once a later call has answered, the dropped ones are gone for good.
    const juce::StringArray unreadable { "'a\\ud800'", "'\\udc00'", "'a\\u0000b'" };
    for (const auto& text : unreadable)
        page ("window.__call ('set', " + text + ")");

    EXPECT_EQ (pageState(), "kept");
    EXPECT_EQ ((int) page ("window.__calls.filter ((c) => ! c.done).length"), unreadable.size());
    EXPECT_EQ (counter.changes, 1) << "only the accepted set reached the host";

    // The limit counts UTF-8 bytes: half a million two-byte characters fit exactly.
    const auto atLimit = call ("set", "'\\u00e9'.repeat (524288)");
    EXPECT_TRUE ((bool) page (atLimit + ".ok"));
    EXPECT_EQ (processor.getWebState().getNumBytesAsUTF8(), quillbeat::maxPageStateBytes);
}

TEST_F (EditorPageState, HostLoadWhileOpenReachesThePageAndItsOwnSetDoesNot)
{
    const auto own = call ("set", "'set by the page'");
    ASSERT_TRUE ((bool) page (own + ".ok"));
    pumpFor (1000);   // four of the editor's ticks
    EXPECT_EQ ((int) page ("window.__loads.length"), 0) << "no event for the page's own set";

    // The host loads a project on a thread of its own.
    quillbeat::SessionState loaded;
    loaded.webState = pageText;
    const auto json = quillbeat::encodeSessionState (loaded);
    std::thread ([&] { processor.setStateInformation (json.toRawUTF8(), (int) json.getNumBytesAsUTF8()); }).join();

    ASSERT_TRUE (pageBecomes (*view, "window.__loads.length > 0", 3000)) << "the load never reached the page";
    EXPECT_EQ (page ("window.__loads[0]").toString(), pageText);
    EXPECT_EQ (pageState(), pageText);

    pumpFor (1000);
    EXPECT_EQ ((int) page ("window.__loads.length"), 1) << "one event per load";
    EXPECT_EQ (counter.changes, 1) << "a load is not the plug-in's change to report";
}
} // namespace
