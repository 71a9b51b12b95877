// The checks a plug-in validator makes, run on the built Quillbeat.vst3
// through the SDK-level host: lifecycle and bus changes with audio checked
// after each, blocks larger than prepared, state round trips and damaged
// state, many instances at once, and the editor opening while audio runs,
// while state arrives from another thread, and under a non-default locale.

#include "Vst3EditorHost.h"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <locale>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace vst3host;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr double sampleRate = 48000.0;
constexpr int32 preparedBlockSize = 512;
constexpr ParamID bypassId = 0x62797073; // 'byps'

// One process() call's worth of audio: fresh noise on every input channel, a
// marker value in every output sample, and a transport that plays on from
// block to block. Afterwards it tells what the plug-in left in the outputs.
class AudioBlock
{
public:
    AudioBlock (int32 numChannels, int32 numSamples)
        : numSamples (numSamples),
          input ((size_t) numChannels, std::vector<float> ((size_t) numSamples)),
          output ((size_t) numChannels, std::vector<float> ((size_t) numSamples))
    {
        for (auto& channel : input)
            inputPointers.push_back (channel.data());
        for (auto& channel : output)
            outputPointers.push_back (channel.data());

        context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kTimeSigValid;
        context.sampleRate = sampleRate;
        context.tempo = 120.0;
        context.timeSigNumerator = 4;
        context.timeSigDenominator = 4;
    }

    tresult process (IAudioProcessor& processor)
    {
        std::uniform_real_distribution<float> noise (-1.0f, 1.0f);

        for (auto& channel : input)
            std::generate (channel.begin(), channel.end(), [&] { return noise (random); });
        for (auto& channel : output)
            std::fill (channel.begin(), channel.end(), marker);

        AudioBusBuffers inBus {}, outBus {};
        inBus.numChannels = (int32) input.size();
        inBus.channelBuffers32 = inputPointers.data();
        outBus.numChannels = (int32) output.size();
        outBus.channelBuffers32 = outputPointers.data();

        auto data = blockData (inBus, outBus, numSamples, &context);

        const auto result = processor.process (data);
        context.projectTimeSamples += numSamples;
        return result;
    }

    bool outputIsInput() const { return output == input; }
    bool outputIsSilent() const { return allOutputsAre (0.0f); }
    bool outputIsUntouched() const { return allOutputsAre (marker); }

private:
    static constexpr float marker = 7.0f;

    bool allOutputsAre (float value) const
    {
        return std::all_of (output.begin(), output.end(), [value] (const auto& channel)
                            { return std::all_of (channel.begin(), channel.end(), [value] (float s) { return s == value; }); });
    }

    int32 numSamples;
    std::vector<std::vector<float>> input, output;
    std::vector<float*> inputPointers, outputPointers;
    ProcessContext context {};
    std::mt19937 random { 2024 };
};

class Vst3Validator : public Vst3Module
{
protected:
    // Takes an instance from set-up to processing, as a host does before playback.
    // With no arrangement given, the buses keep the one the plug-in reports.
    static ::testing::AssertionResult startProcessing (const Instance& instance,
                                                       std::optional<SpeakerArrangement> arrangement = SpeakerArr::kStereo)
    {
        auto& processor = *instance.processor;

        if (arrangement.has_value())
        {
            SpeakerArrangement in = *arrangement, out = *arrangement;
            if (processor.setBusArrangements (&in, 1, &out, 1) != kResultTrue)
                return ::testing::AssertionFailure() << "arrangement " << *arrangement << " refused";
        }

        ProcessSetup setup { kRealtime, kSample32, preparedBlockSize, sampleRate };
        if (processor.setupProcessing (setup) != kResultOk)
            return ::testing::AssertionFailure() << "setupProcessing failed";

        if (instance.component->activateBus (kAudio, kInput, 0, true) != kResultTrue
            || instance.component->activateBus (kAudio, kOutput, 0, true) != kResultTrue)
            return ::testing::AssertionFailure() << "activateBus failed";

        if (instance.component->setActive (true) != kResultOk)
            return ::testing::AssertionFailure() << "setActive failed";

        if (processor.setProcessing (true) != kResultOk)
            return ::testing::AssertionFailure() << "setProcessing failed";

        return ::testing::AssertionSuccess();
    }

    static void stopProcessing (const Instance& instance)
    {
        instance.processor->setProcessing (false);
        instance.component->setActive (false);
    }

    // Loads a block the way hosts do: into the component, then the controller
    // is told, so its parameters (the bypass switch) follow.
    static tresult loadState (const Instance& instance, const std::string& bytes)
    {
        const auto result = instance.component->setState (streamHolding (bytes));
        instance.controller->setComponentState (streamHolding (bytes));
        return result;
    }

    // An editor attached to a host window for a while, then removed.
    static void showEditorFor (const Instance& instance, HostWindow& window, HostFrame& frame, std::chrono::milliseconds hold)
    {
        IPtr<IPlugView> view = owned (instance.controller->createView (ViewType::kEditor));
        ASSERT_TRUE (view);
        ASSERT_EQ (view->setFrame (&frame), kResultTrue);
        ASSERT_EQ (view->attached (window.handle(), kPlatformTypeX11EmbedWindowID), kResultTrue);

        frame.runFor (hold);

        EXPECT_EQ (view->removed(), kResultTrue);
        view->setFrame (nullptr);
        view = nullptr;
        frame.runFor (100ms);
    }
};

// ---------------------------------------------------------------------------
// Lifecycle and buses

TEST_F (Vst3Validator, SuspendResumeAndProcessingTogglesLeaveAudioUntouched)
{
    enum class Step
    {
        processingOff,
        processingOn,
        deactivate,
        activate,
        prepareAt96kWith256,
        prepareAt44kWith1024,
    };

    const struct
    {
        const char* label;
        std::vector<Step> steps;
    } cases[] = {
        { "processing toggled", { Step::processingOff, Step::processingOn } },
        { "suspended and resumed", { Step::processingOff, Step::deactivate, Step::activate, Step::processingOn } },
        { "resumed at another rate and block size",
          { Step::processingOff, Step::deactivate, Step::prepareAt96kWith256, Step::activate, Step::processingOn } },
        { "activation toggled twice in a row",
          { Step::processingOff, Step::deactivate, Step::activate, Step::deactivate, Step::activate, Step::processingOn } },
        { "processing switched on again while on", { Step::processingOn, Step::processingOn } },
        { "processing toggled twice while active",
          { Step::processingOff, Step::processingOn, Step::processingOff, Step::processingOn } },
        { "resumed at 44.1 kHz with longer blocks",
          { Step::processingOff, Step::deactivate, Step::prepareAt44kWith1024, Step::activate, Step::processingOn } },
    };

    Instance instance;
    ASSERT_TRUE (instance.valid());
    ASSERT_TRUE (startProcessing (instance));
    auto& component = *instance.component;
    auto& processor = *instance.processor;

    // Within every maximum block size the cases prepare.
    AudioBlock block (2, 256);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        for (const auto step : c.steps)
        {
            switch (step)
            {
                case Step::processingOff: EXPECT_EQ (processor.setProcessing (false), kResultOk); break;
                case Step::processingOn: EXPECT_EQ (processor.setProcessing (true), kResultOk); break;
                case Step::deactivate: EXPECT_EQ (component.setActive (false), kResultOk); break;
                case Step::activate: EXPECT_EQ (component.setActive (true), kResultOk); break;
                case Step::prepareAt96kWith256:
                {
                    ProcessSetup setup { kRealtime, kSample32, 256, 96000.0 };
                    EXPECT_EQ (processor.setupProcessing (setup), kResultOk);
                    break;
                }
                case Step::prepareAt44kWith1024:
                {
                    ProcessSetup setup { kRealtime, kSample32, 1024, 44100.0 };
                    EXPECT_EQ (processor.setupProcessing (setup), kResultOk);
                    break;
                }
            }
        }

        for (int i = 0; i < 4; ++i)
        {
            ASSERT_EQ (block.process (processor), kResultOk);
            EXPECT_TRUE (block.outputIsInput()) << "block " << i;
        }
    }

    stopProcessing (instance);
}

TEST_F (Vst3Validator, BusesSwitchedOffAndOnAgainKeepProcessingSound)
{
    enum class Outcome
    {
        passesThrough, // output holds the input bit for bit
        silent,        // no input to pass: output all zeros
        untouched,     // the switched-off output is left as the host gave it
    };

    const struct
    {
        const char* label;
        bool inputOn, outputOn;
        Outcome outcome;
    } cases[] = {
        { "both on", true, true, Outcome::passesThrough },
        { "input off", false, true, Outcome::silent },
        { "input on again", true, true, Outcome::passesThrough },
        { "output off", true, false, Outcome::untouched },
        { "output on again", true, true, Outcome::passesThrough },
        { "both off", false, false, Outcome::untouched },
        { "both on again", true, true, Outcome::passesThrough },
    };

    Instance instance;
    ASSERT_TRUE (instance.valid());
    ASSERT_TRUE (startProcessing (instance));
    auto& component = *instance.component;

    AudioBlock block (2, preparedBlockSize);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        // Hosts change buses only while the plug-in is inactive.
        stopProcessing (instance);
        EXPECT_EQ (component.activateBus (kAudio, kInput, 0, c.inputOn), kResultTrue);
        EXPECT_EQ (component.activateBus (kAudio, kOutput, 0, c.outputOn), kResultTrue);
        ASSERT_EQ (component.setActive (true), kResultOk);
        ASSERT_EQ (instance.processor->setProcessing (true), kResultOk);

        for (int i = 0; i < 3; ++i)
        {
            ASSERT_EQ (block.process (*instance.processor), kResultOk);

            switch (c.outcome)
            {
                case Outcome::passesThrough: EXPECT_TRUE (block.outputIsInput()) << "block " << i; break;
                case Outcome::silent: EXPECT_TRUE (block.outputIsSilent()) << "block " << i; break;
                case Outcome::untouched: EXPECT_TRUE (block.outputIsUntouched()) << "block " << i; break;
            }
        }
    }

    stopProcessing (instance);
}

TEST_F (Vst3Validator, UnsupportedBusArrangementsAreRefusedCleanly)
{
    using namespace SpeakerArr;

    const struct
    {
        const char* label;
        std::vector<SpeakerArrangement> inputs, outputs;
        bool accepted;
    } cases[] = {
        { "mono into stereo", { kMono }, { kStereo }, false },
        { "stereo into mono", { kStereo }, { kMono }, false },
        { "5.1 surround", { k51 }, { k51 }, false },
        { "quadraphonic", { k40Cine }, { k40Cine }, false },
        { "a second input bus", { kStereo, kStereo }, { kStereo }, false },
        { "a second output bus", { kStereo }, { kStereo, kStereo }, false },
        { "no buses at all", {}, {}, false },
        { "output only", {}, { kStereo }, false },
        { "mono", { kMono }, { kMono }, true },
        { "stereo", { kStereo }, { kStereo }, true },
    };

    Instance instance;
    ASSERT_TRUE (instance.valid());
    auto& processor = *instance.processor;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        auto inputs = c.inputs;
        auto outputs = c.outputs;
        const auto result = processor.setBusArrangements (inputs.data(), (int32) inputs.size(),
                                                          outputs.data(), (int32) outputs.size());
        EXPECT_EQ (result, c.accepted ? kResultTrue : kResultFalse);

        // Whatever the answer, the plug-in reports a layout it supports, and
        // a host that goes on with that layout gets its audio through.
        SpeakerArrangement in = 0, out = 0;
        ASSERT_EQ (processor.getBusArrangement (kInput, 0, in), kResultTrue);
        ASSERT_EQ (processor.getBusArrangement (kOutput, 0, out), kResultTrue);
        EXPECT_EQ (in, out);
        EXPECT_TRUE (out == kMono || out == kStereo) << out;
        if (c.accepted)
            EXPECT_EQ (out, c.outputs.front());

        ASSERT_TRUE (startProcessing (instance, std::nullopt));
        AudioBlock block (getChannelCount (out), preparedBlockSize);
        for (int i = 0; i < 3; ++i)
        {
            ASSERT_EQ (block.process (processor), kResultOk);
            EXPECT_TRUE (block.outputIsInput()) << "block " << i;
        }
        stopProcessing (instance);
    }

    // Buses that do not exist cannot be switched on.
    EXPECT_EQ (instance.component->activateBus (kAudio, kInput, 1, true), kResultFalse);
    EXPECT_EQ (instance.component->activateBus (kAudio, kOutput, -1, true), kResultFalse);
    EXPECT_EQ (instance.component->activateBus (kEvent, kInput, 0, true), kResultFalse);
    EXPECT_EQ (instance.component->activateBus (kEvent, kOutput, 0, true), kResultFalse);
}

// A host may hand over more samples than it announced in setupProcessing.
// The blocks are still passed through whole, without touching memory past the
// buffers prepared for the announced size (the ASan build checks that).
TEST_F (Vst3Validator, BlocksLargerThanPreparedStillPassThrough)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());
    ASSERT_TRUE (startProcessing (instance));

    const int32 blockSizes[] = { preparedBlockSize + 1, 2 * preparedBlockSize, 4096, 3 * preparedBlockSize + 7, preparedBlockSize };

    for (const auto size : blockSizes)
    {
        SCOPED_TRACE (size);
        AudioBlock block (2, size);

        for (int i = 0; i < 3; ++i)
        {
            ASSERT_EQ (block.process (*instance.processor), kResultOk);
            EXPECT_TRUE (block.outputIsInput()) << "block " << i;
        }
    }

    stopProcessing (instance);
}

TEST_F (Vst3Validator, FiftyInstancesLiveTogetherAndDieInRandomOrder)
{
    // A fresh order each run; the seed is printed so a failing order can be
    // replayed with QUILLBEAT_TEST_SEED.
    const auto seed = [] {
        if (const auto* fixed = std::getenv ("QUILLBEAT_TEST_SEED"))
            return (uint32_t) std::strtoul (fixed, nullptr, 10);
        return (uint32_t) std::random_device {}();
    }();
    std::cout << "destruction order seed: " << seed << std::endl;
    RecordProperty ("seed", std::to_string (seed));

    constexpr int count = 50;
    std::vector<std::unique_ptr<Instance>> instances;

    for (int i = 0; i < count; ++i)
    {
        instances.push_back (std::make_unique<Instance>());
        ASSERT_TRUE (instances.back()->valid()) << "instance " << i;
        ASSERT_TRUE (startProcessing (*instances.back())) << "instance " << i;
    }

    AudioBlock block (2, preparedBlockSize);

    const auto everyInstancePassesAudio = [&] {
        for (size_t i = 0; i < instances.size(); ++i)
        {
            if (block.process (*instances[i]->processor) != kResultOk || ! block.outputIsInput())
                return ::testing::AssertionFailure() << "instance " << i << " of " << instances.size();
        }
        return ::testing::AssertionSuccess();
    };

    ASSERT_TRUE (everyInstancePassesAudio());

    std::mt19937 random (seed);
    std::shuffle (instances.begin(), instances.end(), random);

    // Each one goes in turn; the survivors must not notice.
    while (! instances.empty())
    {
        stopProcessing (*instances.back());
        instances.pop_back();
        ASSERT_TRUE (everyInstancePassesAudio()) << "seed " << seed;
    }
}

// ---------------------------------------------------------------------------
// State

// A block laid out as the wrapper saves it: the plug-in's own bytes, then
// JUCE's private section holding the bypass switch (a zero word, a value
// tree, the size it claims for the tree, a magic string).
std::string withPrivateDataTrailer (const std::string& json, const std::string& tree, uint64_t claimedTreeSize)
{
    std::string block = json;
    block.append (8, '\0');
    block += tree;
    block.append (reinterpret_cast<const char*> (&claimedTreeSize), sizeof claimedTreeSize);
    block += "JUCEPrivateData";
    return block;
}

// The trailer's tree, taken from a real saved block.
std::string privateTreeOf (const std::string& saved)
{
    const std::string magic = "JUCEPrivateData";
    uint64_t size = 0;
    std::memcpy (&size, saved.data() + saved.size() - magic.size() - sizeof size, sizeof size);
    return saved.substr (saved.size() - magic.size() - sizeof size - size, size);
}

TEST_F (Vst3Validator, StateSurvivesGetSetGetByteForByte)
{
    const struct
    {
        const char* label;
        std::optional<std::string> loaded; // nothing: the fresh state
        bool bypassed;
    } cases[] = {
        { "fresh", std::nullopt, false },
        { "sized with page state", R"({"windowWidth": 1280, "windowHeight": 720, "webState": "{\"zoom\":2}"})", false },
        { "non-ASCII and control text", "{\"windowWidth\": 600, \"windowHeight\": 1080, \"webState\": \"\\u00e9\xe2\x82\xac\xf0\x9f\x8e\xb9 \\n\\t\\\" \\\\ /\"}", false },
        { "long page state", "{\"webState\": \"" + std::string (200000, 'q') + "\"}", false },
        { "bypassed", R"({"windowWidth": 700, "windowHeight": 500, "webState": "b"})", true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);
        Instance instance;
        ASSERT_TRUE (instance.valid());

        if (c.loaded.has_value())
            ASSERT_EQ (loadState (instance, *c.loaded), kResultTrue);
        if (c.bypassed)
            ASSERT_EQ (instance.controller->setParamNormalized (bypassId, 1.0), kResultTrue);

        const auto first = instance.savedState();
        ASSERT_EQ (loadState (instance, first), kResultTrue);
        EXPECT_EQ (instance.savedState(), first);

        // The same block in a new instance, as when a project is reopened.
        Instance reopened;
        ASSERT_TRUE (reopened.valid());
        ASSERT_EQ (loadState (reopened, first), kResultTrue);
        EXPECT_EQ (reopened.savedState(), first);
        EXPECT_EQ (reopened.controller->getParamNormalized (bypassId), c.bypassed ? 1.0 : 0.0);
    }
}

// Blocks that are not a saved state at all. Each is refused or ignored, and
// the instance saves exactly what it saved before, bypass switch included.
TEST_F (Vst3Validator, MalformedStateBlocksChangeNothing)
{
    const std::string json = R"({"windowWidth": 1000, "windowHeight": 700, "webState": "before"})";

    Instance reference;
    ASSERT_TRUE (reference.valid());
    ASSERT_EQ (reference.controller->setParamNormalized (bypassId, 1.0), kResultTrue);
    const auto tree = privateTreeOf (reference.savedState());

    const struct
    {
        const char* label;
        std::string bytes;
    } cases[] = {
        { "empty", "" },
        { "truncated JSON", json.substr (0, json.size() / 2) },
        { "truncated inside a string", R"({"windowWidth": 1000, "webState": "bef)" },
        { "only NUL bytes", std::string (64, '\0') },
        { "NUL inside the JSON", "{\"webState\": \"x\0y\"}"s },
        { "JSON then NUL and junk", json + "\0junk"s },
        { "invalid UTF-8", "{\"webState\": \"\xff\xfe\"}" },
        { "UTF-8 cut mid-character", "{\"webState\": \"\xe2\x82\"}" },
        { "not JSON", "windowWidth=800" },
        { "an array", "[1000, 700]" },
        { "a number", "1000" },
        { "a string", "\"before\"" },
        { "null", "null" },
        { "saved block cut inside its trailer", withPrivateDataTrailer (json, tree, tree.size()).substr (0, json.size() + 20) },
        { "trailer claiming a huge size", withPrivateDataTrailer (json, tree, UINT64_MAX / 2) },
        { "trailer claiming all bits set", withPrivateDataTrailer (json, tree, UINT64_MAX) },
        { "trailer claiming more than the block", withPrivateDataTrailer (json, tree, json.size() + tree.size() + 9) },
        { "trailer claiming 4 GiB more", withPrivateDataTrailer (json, tree, tree.size() + (uint64_t { 1 } << 32)) },
        { "trailer alone, claiming more", withPrivateDataTrailer ("", "", 100) },
        { "trailer whose tree is damaged", withPrivateDataTrailer (json, std::string (tree.size(), '\xee'), tree.size()) },
        { "broken JSON before a good trailer", withPrivateDataTrailer ("{\"windowWidth\": 80", tree, tree.size()) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);
        Instance instance;
        ASSERT_TRUE (instance.valid());
        ASSERT_EQ (loadState (instance, json), kResultTrue);
        ASSERT_EQ (instance.controller->setParamNormalized (bypassId, 1.0), kResultTrue);
        const auto before = instance.savedState();

        loadState (instance, c.bytes);

        EXPECT_EQ (instance.savedState(), before);
        EXPECT_EQ (instance.controller->getParamNormalized (bypassId), 1.0);
    }
}

// Blocks that are odd but readable load leniently, by design: sizes clamp into
// the editor's limits and members of the wrong type convert. Each then saves
// exactly as its plain equivalent does.
TEST_F (Vst3Validator, OddButReadableStateLoadsAsItsPlainEquivalent)
{
    const struct
    {
        const char* label;
        std::string loaded, equivalent;
    } cases[] = {
        { "huge sizes", R"({"windowWidth": 1e300, "windowHeight": 99999999999999999999, "webState": "x"})",
          R"({"windowWidth": 1920, "windowHeight": 1080, "webState": "x"})" },
        { "integers past 64 bits", R"({"windowWidth": 10000000000000000000, "windowHeight": -10000000000000000000})",
          R"({"windowWidth": 1920, "windowHeight": 400, "webState": ""})" },
        { "sizes beyond 32 bits", R"({"windowWidth": -5000000000, "windowHeight": 5000000000})",
          R"({"windowWidth": 600, "windowHeight": 1080, "webState": ""})" },
        { "negative sizes", R"({"windowWidth": -1, "windowHeight": -700})",
          R"({"windowWidth": 600, "windowHeight": 400, "webState": ""})" },
        { "numbers as text, text as a number", R"({"windowWidth": "800px", "windowHeight": " 500", "webState": 5})",
          R"({"windowWidth": 800, "windowHeight": 500, "webState": "5"})" },
        { "booleans and containers", R"({"windowWidth": true, "windowHeight": [700], "webState": false})",
          R"({"windowWidth": 600, "windowHeight": 400, "webState": "0"})" },
        { "fractions", R"({"windowWidth": 999.9, "windowHeight": 400.5})",
          R"({"windowWidth": 999, "windowHeight": 400, "webState": ""})" },
        { "empty object", "{}", R"({"windowWidth": 600, "windowHeight": 400, "webState": ""})" },
        { "unknown members and another version", R"({"version": 7, "extra": {"a": [1]}, "windowWidth": 700, "windowHeight": 500, "webState": "v"})",
          R"({"windowWidth": 700, "windowHeight": 500, "webState": "v"})" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);
        Instance odd, plain;
        ASSERT_TRUE (odd.valid() && plain.valid());

        ASSERT_EQ (loadState (odd, c.loaded), kResultTrue);
        ASSERT_EQ (loadState (plain, c.equivalent), kResultTrue);
        EXPECT_EQ (odd.savedState(), plain.savedState());
    }
}

// ---------------------------------------------------------------------------
// The editor alongside audio, state and locale

// A thread that keeps doing one thing until the test is done with it.
class Repeating
{
public:
    template <typename Work>
    explicit Repeating (Work work)
        : thread ([this, work] {
              while (! stop.load())
              {
                  work();
                  ++rounds;
                  std::this_thread::sleep_for (2ms);
              }
          })
    {
    }

    ~Repeating() { finish(); }

    int finish()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        return rounds.load();
    }

private:
    std::atomic<bool> stop { false };
    std::atomic<int> rounds { 0 };
    std::thread thread;
};

TEST_F (Vst3Validator, EditorOpensAndClosesWhileAudioRuns)
{
    HostWindow window;
    ASSERT_TRUE (window.valid()) << "no X display";
    HostFrame frame;

    Instance instance;
    ASSERT_TRUE (instance.valid());
    ASSERT_TRUE (startProcessing (instance));

    AudioBlock block (2, preparedBlockSize);
    std::atomic<int> faults { 0 };
    Repeating audio ([&] {
        if (block.process (*instance.processor) != kResultOk || ! block.outputIsInput())
            ++faults;
    });

    for (const auto hold : { 0ms, 300ms, 1200ms, 50ms })
    {
        SCOPED_TRACE (hold.count());
        showEditorFor (instance, window, frame, hold);
    }

    const auto blocks = audio.finish();
    EXPECT_GT (blocks, 10);
    EXPECT_EQ (faults.load(), 0) << "of " << blocks << " blocks";

    stopProcessing (instance);
}

TEST_F (Vst3Validator, StateSetFromAnotherThreadWhileTheEditorOpens)
{
    HostWindow window;
    ASSERT_TRUE (window.valid()) << "no X display";
    HostFrame frame;

    Instance instance;
    ASSERT_TRUE (instance.valid());

    const std::string blocks[] = {
        R"({"windowWidth": 800, "windowHeight": 600, "webState": "alpha"})",
        R"({"windowWidth": 1000, "windowHeight": 700, "webState": "beta"})",
    };

    std::atomic<int> refused { 0 };
    std::atomic<size_t> next { 0 };
    Repeating stateLoads ([&] {
        if (instance.component->setState (streamHolding (blocks[next++ % 2])) != kResultTrue)
            ++refused;
    });

    for (const auto hold : { 0ms, 400ms, 1000ms })
    {
        SCOPED_TRACE (hold.count());
        showEditorFor (instance, window, frame, hold);
    }

    const auto loads = stateLoads.finish();
    EXPECT_GT (loads, 10);
    EXPECT_EQ (refused.load(), 0) << "of " << loads << " loads";

    // Still in order: the next load saves exactly as in a fresh instance.
    Instance fresh;
    ASSERT_TRUE (fresh.valid());
    for (const auto& b : blocks)
    {
        ASSERT_EQ (loadState (instance, b), kResultTrue);
        ASSERT_EQ (loadState (fresh, b), kResultTrue);
        EXPECT_EQ (instance.savedState(), fresh.savedState());
    }
}

// A host may run under any locale; opening the editor (GTK and the web engine
// included) must leave both the C locale and the C++ global locale as they were.
TEST_F (Vst3Validator, EditorLeavesTheProcessLocaleAlone)
{
    struct RestoreClassicLocale
    {
        ~RestoreClassicLocale() { std::locale::global (std::locale::classic()); }
    } restore;

    try
    {
        std::locale::global (std::locale ("de_DE.UTF-8"));
    }
    catch (const std::runtime_error&)
    {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/bootstrap.sh creates it)";
    }

    const std::string cLocale = std::setlocale (LC_ALL, nullptr);
    const auto cppLocale = std::locale().name();
    ASSERT_EQ (cLocale, "de_DE.UTF-8");

    HostWindow window;
    ASSERT_TRUE (window.valid()) << "no X display";
    HostFrame frame;

    Instance instance;
    ASSERT_TRUE (instance.valid());

    for (const auto hold : { 1500ms, 200ms })
    {
        SCOPED_TRACE (hold.count());
        showEditorFor (instance, window, frame, hold);

        EXPECT_EQ (std::setlocale (LC_ALL, nullptr), cLocale);
        EXPECT_EQ (std::locale().name(), cppLocale);
    }
}

} // namespace
