#include "MovingTransport.h"

#include <bridge/TransportMessage.h>
#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>
#include <processor/SessionState.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>

// The audio thread, the message thread and a host thread setting state all at
// once, the way a DAW drives a plug-in. Built with ThreadSanitizer, any data
// race among them is reported; without it, the test still checks that every
// answer stays well formed while the others run.

namespace
{
using Options = juce::WebBrowserComponent::Options;

// How long the threads race: QUILLBEAT_RACE_SECONDS, or one second.
std::chrono::duration<double> raceDuration()
{
    const auto* text = std::getenv ("QUILLBEAT_RACE_SECONDS");
    const auto seconds = text != nullptr ? std::atof (text) : 0.0;
    return std::chrono::duration<double> (seconds > 0.0 ? seconds : 1.0);
}

// The editor keeps its page under the user's configuration folder; the test
// gives the process a fresh HOME so it never touches the real one, and puts
// the old one back. Set while only this thread runs.
class ScopedHome
{
public:
    ScopedHome()
    {
        if (const auto* old = std::getenv ("HOME"))
            previous = old;

        folder.createDirectory();
        ::setenv ("HOME", folder.getFullPathName().toRawUTF8(), 1);
    }

    ~ScopedHome()
    {
        if (previous.has_value())
            ::setenv ("HOME", previous->c_str(), 1);
        else
            ::unsetenv ("HOME");

        folder.deleteRecursively();
    }

private:
    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getNonexistentChildFile ("quillbeat-race-home", {}, false);
    std::optional<std::string> previous;
};

// The editor as a host builds it, with a web view factory that keeps the
// browser options and then fails, as on a machine without a web engine. The
// editor stays up in its fallback state, and the options hold the very native
// function and resource provider a page would reach.
struct EditorWithoutWebView
{
    explicit EditorWithoutWebView (QuillbeatProcessor& processor)
        : editor (processor, [this] (const Options& built) -> std::unique_ptr<juce::WebBrowserComponent>
                  {
                      options = built;
                      throw std::runtime_error ("no web engine in this test");
                  })
    {
    }

    std::optional<Options> options;
    QuillbeatEditor editor;
};

TEST (AudioThreadRace, AudioThreadRacesPageReadersAndStateCalls)
{
    const ScopedHome home;
    QuillbeatProcessor processor;
    EditorWithoutWebView view (processor);

    ASSERT_TRUE (view.editor.hasWebViewFailed());
    ASSERT_TRUE (view.options.has_value());
    const auto getTransport = view.options->getNativeFunctions().at ("getTransport");
    const auto serve = view.options->getResourceProvider();
    ASSERT_TRUE (getTransport != nullptr && serve != nullptr);

    // A page file the provider reads from the web root while the others run.
    const auto webRoot = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Quillbeat/web");
    const auto pageText = juce::String::repeatedString ("<p>Quillbeat</p>\n", 256);
    ASSERT_TRUE (webRoot.getChildFile ("index.html").replaceWithData (pageText.toRawUTF8(), pageText.getNumBytesAsUTF8()));

    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 64;
    processor.prepareToPlay (sampleRate, blockSize);

    std::atomic<bool> stop { false };
    int blocks = 0, stateRounds = 0, badStates = 0;

    // The host's audio thread: a moving transport, block after block.
    std::thread audio ([&]
    {
        FakePlayHead playHead;
        processor.setPlayHead (&playHead);
        juce::AudioBuffer<float> buffer (2, blockSize);
        buffer.clear();
        juce::MidiBuffer midi;

        for (; ! stop.load (std::memory_order_relaxed); ++blocks)
        {
            playHead.position = movingTransportAt (blocks, blocks * blockSize / sampleRate);
            processor.processBlock (buffer, midi);
        }

        processor.setPlayHead (nullptr);
    });

    // A host thread saving and loading the project, and setting the window
    // size as the editor does.
    std::thread state ([&]
    {
        using Limits = quillbeat::SessionState;

        for (; ! stop.load (std::memory_order_relaxed); ++stateRounds)
        {
            quillbeat::SessionState loaded;
            loaded.windowWidth = Limits::minWidth + stateRounds % (Limits::maxWidth - Limits::minWidth + 1);
            loaded.windowHeight = Limits::minHeight + stateRounds % (Limits::maxHeight - Limits::minHeight + 1);
            loaded.webState = "{\"round\":" + juce::String (stateRounds) + "}";

            const auto json = quillbeat::encodeSessionState (loaded);
            processor.setStateInformation (json.toRawUTF8(), (int) json.getNumBytesAsUTF8());

            juce::MemoryBlock block;
            processor.getStateInformation (block);
            const auto saved = quillbeat::decodeSessionState (block.getData(), (int) block.getSize());

            // Only this thread sets the page state; the size may come from the editor.
            if (! saved.has_value() || saved->webState != loaded.webState || processor.getWebState() != loaded.webState)
                ++badStates;

            processor.setWindowSize (loaded.windowWidth, loaded.windowHeight);
            const auto width = processor.getWindowWidth();
            const auto height = processor.getWindowHeight();

            if (width < Limits::minWidth || width > Limits::maxWidth || height < Limits::minHeight || height > Limits::maxHeight)
                ++badStates;
        }
    });

    // This thread is the message thread: the editor's tick, the page's
    // requests and native-function calls, and the window being resized.
    int ticks = 0, badAnswers = 0;
    const auto deadline = std::chrono::steady_clock::now() + raceDuration();

    for (; std::chrono::steady_clock::now() < deadline; ++ticks)
    {
        const auto reading = processor.readTransport();
        const auto script = quillbeat::buildTransportScript (reading, quillbeat::TransportScriptVariant::timer);
        const auto event = juce::JSON::toString (quillbeat::buildTransportObject (reading, "Event"));

        juce::var answer;
        getTransport ({}, [&answer] (juce::var result) { answer = std::move (result); });

        const auto transportScript = serve ("/transport.js");
        const auto page = serve ("/index.html");

        if (! script.startsWith ("window.__transportData") || ! event.startsWith ("{")
            || ! answer.isObject() || ! answer.hasProperty ("bpm")
            || ! transportScript.has_value() || transportScript->data.empty()
            || ! page.has_value() || page->data.size() != pageText.getNumBytesAsUTF8())
            ++badAnswers;

        view.editor.setSize (700 + ticks % 500, 500 + ticks % 300);
    }

    stop = true;
    audio.join();
    state.join();

    EXPECT_GT (blocks, 0);
    EXPECT_GT (stateRounds, 0);
    EXPECT_GT (ticks, 0);
    EXPECT_EQ (badStates, 0);
    EXPECT_EQ (badAnswers, 0);
    EXPECT_EQ (processor.readTransport().blockCount, blocks);

    std::cout << "raced " << blocks << " blocks, " << ticks << " message-thread rounds, "
              << stateRounds << " state rounds\n";
}

} // namespace
