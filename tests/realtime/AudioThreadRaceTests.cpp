#include "MovingTransport.h"

#include <analysis/AudioAnalyser.h>
#include <bridge/PageState.h>
#include <bridge/PlayheadMessage.h>
#include <bridge/TransportMessage.h>
#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>
#include <processor/SessionState.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

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
    const auto getPlayhead = view.options->getNativeFunctions().at (quillbeat::playheadFunctionName);
    const auto serve = view.options->getResourceProvider();
    ASSERT_TRUE (getTransport != nullptr && getPlayhead != nullptr && serve != nullptr);

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

        juce::var playhead;
        getPlayhead ({}, [&playhead] (juce::var result) { playhead = std::move (result); });
        const auto playheadEvent = juce::JSON::toString (quillbeat::buildPlayheadObject (processor.readPlayhead(), 0));

        const auto transportScript = serve ("/transport.js");
        const auto page = serve ("/index.html");

        if (! script.startsWith ("window.__transportData") || ! event.startsWith ("{")
            || ! answer.isObject() || ! answer.hasProperty ("bpm")
            || ! playhead.isObject() || ! playhead.hasProperty ("ppqPosition") || ! playheadEvent.startsWith ("{")
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

// A page-state value that names its writer and round and repeats that name
// many times over, so a value mixed from two writes shows at once.
juce::String raceValue (const char* writer, int round)
{
    const auto name = juce::String (writer) + "-" + juce::String (round) + ";";
    return juce::String::repeatedString (name, 200 + round % 50);
}

// True when `text` is exactly one of the values raceValue made.
bool isOneRaceValue (const juce::String& text)
{
    const auto name = text.upToFirstOccurrenceOf (";", false, false);
    const auto writer = name.upToLastOccurrenceOf ("-", false, false);
    const auto round = name.fromLastOccurrenceOf ("-", false, false).getIntValue();
    return (writer == "page" || writer == "host") && text == raceValue (writer.toRawUTF8(), round);
}

TEST (AudioThreadRace, PageStateSetsRaceHostSavesAndLoads)
{
    const ScopedHome home;
    QuillbeatProcessor processor;
    EditorWithoutWebView view (processor);

    ASSERT_TRUE (view.options.has_value());
    const auto setPageState = view.options->getNativeFunctions().at (quillbeat::setPageStateFunctionName);
    const auto getPageState = view.options->getNativeFunctions().at (quillbeat::getPageStateFunctionName);
    ASSERT_TRUE (setPageState != nullptr && getPageState != nullptr);

    // Counts the host's change notifications, which come on this thread only.
    struct ChangeCounter final : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
        {
            if (! juce::MessageManager::getInstance()->isThisTheMessageThread())
                ++offMessageThread;
            else if (details.nonParameterStateChanged)
                ++changes;
        }

        int changes = 0;
        std::atomic<int> offMessageThread { 0 };
    } counter;
    processor.addListener (&counter);

    constexpr int blockSize = 64;
    processor.prepareToPlay (48000.0, blockSize);
    std::atomic<bool> stop { false };
    int blocks = 0, saves = 0, loads = 0, mixedSaves = 0;

    // The audio thread runs throughout; it never touches the page state.
    std::thread audio ([&]
    {
        FakePlayHead playHead;
        processor.setPlayHead (&playHead);
        juce::AudioBuffer<float> buffer (2, blockSize);
        buffer.clear();
        juce::MidiBuffer midi;

        for (; ! stop.load (std::memory_order_relaxed); ++blocks)
        {
            playHead.position = movingTransportAt (blocks, blocks * blockSize / 48000.0);
            processor.processBlock (buffer, midi);
        }

        processor.setPlayHead (nullptr);
    });

    // A host thread loading a project now and then and saving it all the time.
    std::thread host ([&]
    {
        for (int round = 0; ! stop.load (std::memory_order_relaxed); ++round)
        {
            if (round % 3 == 0)
            {
                quillbeat::SessionState loaded;
                loaded.webState = raceValue ("host", loads++);
                const auto json = quillbeat::encodeSessionState (loaded);
                processor.setStateInformation (json.toRawUTF8(), (int) json.getNumBytesAsUTF8());
            }

            juce::MemoryBlock block;
            processor.getStateInformation (block);
            const auto saved = quillbeat::decodeSessionState (block.getData(), (int) block.getSize());
            ++saves;

            if (! saved.has_value() || (saved->webState.isNotEmpty() && ! isOneRaceValue (saved->webState)))
                ++mixedSaves;
        }
    });

    // This thread is the message thread: the page's sets and reads through
    // the editor's own native functions.
    int sets = 0, refusedSets = 0, mixedReads = 0;
    const auto deadline = std::chrono::steady_clock::now() + raceDuration();

    for (; std::chrono::steady_clock::now() < deadline; ++sets)
    {
        juce::var result;
        setPageState (juce::Array<juce::var> { juce::var (raceValue ("page", sets)) },
                      [&result] (juce::var r) { result = std::move (r); });

        if (! (bool) result["ok"])
            ++refusedSets;

        juce::var read;
        getPageState ({}, [&read] (juce::var r) { read = std::move (r); });

        if (! read.isString() || (read.toString().isNotEmpty() && ! isOneRaceValue (read.toString())))
            ++mixedReads;
    }

    stop = true;
    audio.join();
    host.join();
    processor.removeListener (&counter);

    EXPECT_GT (blocks, 0);
    EXPECT_GT (loads, 0);
    EXPECT_GT (sets, 0);
    EXPECT_EQ (refusedSets, 0);
    EXPECT_EQ (mixedSaves, 0);
    EXPECT_EQ (mixedReads, 0);
    EXPECT_EQ (counter.changes, sets) << "one notification per set";
    EXPECT_EQ (counter.offMessageThread.load(), 0);
    EXPECT_EQ (processor.getStateLoadCount(), (juce::uint32) loads);

    std::cout << "raced " << sets << " page sets against " << saves << " saves and " << loads << " loads over "
              << blocks << " blocks\n";
}

// A play head whose every value is a different function of one block
// number, so a reading that mixed two blocks shows at once.
struct CountingPlayHead final : juce::AudioPlayHead
{
    std::int64_t block = 0;

    juce::Optional<PositionInfo> getPosition() const override
    {
        const auto n = (double) block;
        PositionInfo p;
        p.setIsPlaying (block % 2 == 0);
        p.setIsRecording (block % 3 == 0);
        p.setIsLooping (block % 5 == 0);
        p.setBpm (60.0 + (double) (block % 1000));
        p.setTimeSignature (TimeSignature { 1 + (int) (block % 16), 1 << (block % 5) });
        p.setTimeInSeconds (n * 0.5);
        p.setTimeInSamples (block * 64);
        p.setPpqPosition (n * 0.25);
        p.setPpqPositionOfLastBarStart (n * 0.125);
        p.setBarCount (block * 3);
        p.setLoopPoints (LoopPoints { n, n + 1.0 });
        p.setHostTimeNs ((std::uint64_t) block * 1000u);
        return p;
    }
};

// The block number a reading claims in each of its members; all equal when
// the reading is whole.
std::vector<std::int64_t> blockNumbersIn (const quillbeat::PlayheadReading& r)
{
    if (! r.playing || ! r.bpm || ! r.timeSigNum || ! r.positionSecs || ! r.positionSamples || ! r.ppqPosition
        || ! r.ppqLastBarStart || ! r.barCount || ! r.ppqLoopStart || ! r.ppqLoopEnd || ! r.hostTimeNs)
        return { -1 };

    const auto n = (std::int64_t) std::llround (*r.ppqPosition * 4.0);
    std::vector<std::int64_t> claims {
        (std::int64_t) r.blockCount - 1,
        (std::int64_t) std::llround (*r.positionSecs * 2.0),
        *r.positionSamples / 64,
        (std::int64_t) std::llround (*r.ppqLastBarStart * 8.0),
        *r.barCount / 3,
        (std::int64_t) *r.ppqLoopStart,
        (std::int64_t) *r.ppqLoopEnd - 1,
        (std::int64_t) (*r.hostTimeNs / 1000u),
    };

    // The values that cycle agree with the block number too.
    if (*r.playing != (n % 2 == 0) || *r.recording != (n % 3 == 0) || *r.looping != (n % 5 == 0)
        || ! juce::exactlyEqual (*r.bpm, 60.0 + (double) (n % 1000)) || *r.timeSigNum != 1 + (int) (n % 16) || *r.timeSigDen != 1 << (n % 5))
        claims.push_back (-1);

    return claims;
}

TEST (AudioThreadRace, PlayheadReadingsComeWholeFromOneBlock)
{
    QuillbeatProcessor processor;
    processor.setRateAndBufferSizeDetails (48000.0, 16);
    std::atomic<bool> stop { false };
    std::int64_t blocks = 0;

    std::thread audio ([&]
    {
        CountingPlayHead playHead;
        processor.setPlayHead (&playHead);
        juce::AudioBuffer<float> buffer (2, 16);
        buffer.clear();
        juce::MidiBuffer midi;

        for (; ! stop.load (std::memory_order_relaxed); ++blocks)
        {
            playHead.block = blocks;
            processor.processBlock (buffer, midi);
        }

        processor.setPlayHead (nullptr);
    });

    // Readers as the editor has them: the reading itself, and the object the
    // page gets, read back from its JSON.
    int reads = 0, torn = 0, distinctBlocks = 0;
    std::int64_t lastBlock = -1;
    juce::String firstTear;
    const auto deadline = std::chrono::steady_clock::now() + raceDuration();

    for (; std::chrono::steady_clock::now() < deadline; ++reads)
    {
        const auto reading = processor.readPlayhead();

        if (reading.blockCount == 0)
            continue;

        const auto claims = blockNumbersIn (reading);
        const auto whole = std::all_of (claims.begin(), claims.end(), [&] (auto c) { return c == claims.front(); });

        // Now and then, also as the page would get it.
        auto sentWhole = true;
        juce::var sent;
        if (whole && reads % 64 == 0)
        {
            sent = juce::JSON::parse (juce::JSON::toString (quillbeat::buildPlayheadObject (reading, 0)));
            sentWhole = (int) sent["blockCount"] == reading.blockCount
                     && juce::exactlyEqual ((double) sent["ppqPosition"], *reading.ppqPosition)
                     && (juce::int64) sent["positionSamples"] == *reading.positionSamples;
        }

        if (! whole || ! sentWhole)
        {
            if (torn++ == 0)
                firstTear = "block " + juce::String (reading.blockCount) + ", ppq "
                          + juce::String (reading.ppqPosition.value_or (-1.0)) + ", sent " + juce::JSON::toString (sent, true);
        }
        else if (claims.front() != lastBlock)
        {
            lastBlock = claims.front();
            ++distinctBlocks;
        }
    }

    stop = true;
    audio.join();

    EXPECT_EQ (torn, 0) << "first torn reading: " << firstTear;
    EXPECT_GT (distinctBlocks, 1);
    std::cout << "read " << reads << " playhead readings over " << blocks << " blocks (" << distinctBlocks
              << " distinct), " << torn << " torn\n";
}

// The page turning the analysis on and off and changing what it asks for
// while the audio runs: every frame comes whole, its stamps from one block
// and its figures from the samples that block carried.
TEST (AudioThreadRace, AnalysisStartsChangesAndStopsWhileAudioRuns)
{
    QuillbeatProcessor processor;
    constexpr int blockSize = 48;
    processor.setRateAndBufferSizeDetails (48000.0, blockSize);
    processor.prepareToPlay (48000.0, blockSize);
    std::atomic<bool> stop { false };
    std::int64_t blocks = 0;

    std::thread audio ([&]
    {
        CountingPlayHead playHead;
        processor.setPlayHead (&playHead);
        juce::AudioBuffer<float> buffer (2, blockSize);

        // Half scale throughout: every frame's peak and RMS read -6.02 dB.
        for (int ch = 0; ch < 2; ++ch)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 0.5f, blockSize);

        juce::MidiBuffer midi;

        for (; ! stop.load (std::memory_order_relaxed); ++blocks)
        {
            playHead.block = blocks;
            processor.processBlock (buffer, midi);
        }

        processor.setPlayHead (nullptr);
    });

    // This thread is the message thread: the editor's analyser at the page's
    // frame rate, sped up, with the page changing its mind now and then.
    quillbeat::AudioAnalyser analyser (processor.getAudioTap());
    int rounds = 0, frames = 0, bad = 0;
    std::int32_t lastBlockCount = 0;
    juce::String firstBad;
    quillbeat::AnalysisFrame frame;
    const auto deadline = std::chrono::steady_clock::now() + raceDuration();

    for (; std::chrono::steady_clock::now() < deadline; ++rounds)
    {
        // A short cycle, so even a slow sanitised run passes through it many times.
        const auto wide = rounds / 8 % 2 == 0;

        switch (rounds % 8)
        {
            case 0: processor.startAnalysis(); break;
            case 3:
            case 5:
            {
                quillbeat::AnalysisSettings settings;
                settings.fftSize = wide ? 4096 : 1024;
                settings.bandsPerOctave = wide ? 24 : 3;
                settings.spectrumPerChannel = wide;
                settings.levels = rounds % 8 == 3 || wide;
                settings.waveformSlices = 1 + rounds % 1024;
                analyser.setSettings (settings);
                break;
            }
            case 7: processor.stopAnalysis(); break;
            default: break;
        }

        if (! analyser.nextFrame (frame))
        {
            std::this_thread::yield();
            continue;
        }

        ++frames;
        const auto block = (std::int64_t) frame.blockCount - 1;
        const auto levelsRight = std::all_of (frame.levels.begin(), frame.levels.end(), [] (const quillbeat::ChannelLevels& l)
        {
            return std::abs (l.peakDb + 6.0206) < 0.01 && std::abs (l.rmsDb + 6.0206) < 0.01 && l.nonFinite == 0 && ! l.clipped;
        });
        const auto waveformRight = std::all_of (frame.waveformMax.begin(), frame.waveformMax.end(), [] (const std::vector<float>& row)
        {
            return std::all_of (row.begin(), row.end(), [] (float v) { return v == 0.5f; });
        });

        if (frame.channels != 2 || frame.samples <= 0 || frame.droppedSamples < 0 || frame.blockCount == lastBlockCount
            || frame.positionSamples != block * 64 || frame.ppqPosition != (double) block * 0.25 || frame.sampleRate != 48000.0
            || ! levelsRight || ! waveformRight)
        {
            if (bad++ == 0)
                firstBad = "block " + juce::String (frame.blockCount) + ", samples " + juce::String (frame.samples)
                         + ", position " + juce::String (frame.positionSamples.value_or (-1));
        }

        lastBlockCount = frame.blockCount;
    }

    stop = true;
    audio.join();
    processor.stopAnalysis();

    EXPECT_EQ (bad, 0) << "first bad frame: " << firstBad;
    EXPECT_GT (frames, 0);
    std::cout << "read " << frames << " analysis frames in " << rounds << " rounds over " << blocks << " blocks\n";
}

} // namespace
