#pragma once

#include "MessageLoop.h"

#include "../unit/FakePlayHead.h"

#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

// The per-user web root the editor serves from ($HOME is a fresh folder per run).
inline juce::File webRoot()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Quillbeat/web");
}

// A page that records what it sees of the bridge, using the framework's own
// front-end library the way a shipped page does.
inline void installTestPage()
{
    const auto root = webRoot();
    root.deleteRecursively();
    ASSERT_TRUE (root.getChildFile ("assets").createDirectory());
    ASSERT_TRUE (root.getChildFile ("juce").createDirectory());

    const juce::File frontEnd (QUILLBEAT_JUCE_FRONTEND_DIR);
    ASSERT_TRUE (frontEnd.getChildFile ("index.js").copyFileTo (root.getChildFile ("juce/index.js")));
    ASSERT_TRUE (frontEnd.getChildFile ("check_native_interop.js").copyFileTo (root.getChildFile ("juce/check_native_interop.js")));

    ASSERT_TRUE (root.getChildFile ("assets/test.css").replaceWithText ("body { background-color: rgb(1, 2, 3); }"));
    ASSERT_TRUE (root.getChildFile ("index.html").replaceWithText (R"html(<!doctype html>
<html><head>
<link rel="stylesheet" href="assets/test.css">
<script>
  window.__sawConnectedBeforePage = window.__juceConnected === true;
  // Count every assignment the editor makes.
  window.__assignments = 0;
  let latest;
  Object.defineProperty (window, '__transportData', {
    configurable: true,
    get () { return latest; },
    set (value) { latest = value; window.__assignments++; }
  });
</script>
<script src="transport.js"></script>
<script>window.__jsonp = window.__transportData;</script>
<script type="module">
  import { getNativeFunction } from './juce/index.js';
  window.__events = [];
  window.__JUCE__.backend.addEventListener ('transportUpdate', (e) => window.__events.push (e));
  window.__playheads = [];
  window.__JUCE__.backend.addEventListener ('playheadUpdate', (e) => window.__playheads.push ({ reading: e, at: performance.now() }));
  getNativeFunction ('getPlayhead')().then ((r) => { window.__getPlayhead = r; });
  const getTransport = getNativeFunction ('getTransport');
  window.__callGetTransport = (...args) => getTransport (...args);
  getTransport().then ((r) => { window.__getTransport = r; });
  getTransport (1, 'two', { three: 3 }).then ((r) => { window.__getTransportWithArgs = r; });
  window.__moduleReady = true;
</script>
</head><body>test page</body></html>
)html"));
}

// Feeds the processor blocks from another thread, as a host's audio thread
// would, with a play head playing at 128 bpm in 4/4 from 12.5 s, reporting
// quarter notes and samples as well.
class AudioThread
{
public:
    explicit AudioThread (QuillbeatProcessor& p) : processor (p)
    {
        processor.setPlayHead (&playHead);
        thread = std::thread ([this] { run(); });
    }

    ~AudioThread()
    {
        running = false;
        thread.join();
        processor.setPlayHead (nullptr);
    }

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        double seconds = 12.5;

        while (running)
        {
            auto position = FakePlayHead::playing (128.0, 4, 4, seconds);
            position.setPpqPosition (seconds * 128.0 / 60.0);
            position.setTimeInSamples ((juce::int64) std::llround (seconds * 48000.0));
            playHead.position = position;
            processor.processBlock (buffer, midi);
            seconds += 512.0 / 48000.0;
            std::this_thread::sleep_for (std::chrono::microseconds (10667));
        }
    }

    QuillbeatProcessor& processor;
    FakePlayHead playHead;
    std::atomic<bool> running { true };
    std::thread thread;
};

// An editor on screen, as a host shows it.
struct OpenEditor
{
    explicit OpenEditor (QuillbeatProcessor& processor, QuillbeatEditor::WebViewFactory factory = {})
        : editor (std::make_unique<QuillbeatEditor> (processor, std::move (factory)))
    {
        editor->setVisible (true);
        editor->addToDesktop (0);
    }

    QuillbeatEditor* operator->() const { return editor.get(); }

    std::unique_ptr<QuillbeatEditor> editor;
};

inline QuillbeatEditor::WebViewFactory failingWebView()
{
    return [] (const juce::WebBrowserComponent::Options&) -> std::unique_ptr<juce::WebBrowserComponent>
    {
        throw std::runtime_error ("no web engine");
    };
}
