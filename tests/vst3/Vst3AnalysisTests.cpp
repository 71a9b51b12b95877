// Known signals through the built plug-in, as a DAW runs it: audio through
// IAudioProcessor::process() at the host's rate and bus layout, the editor
// embedded with the real web engine, and a page that asks for analysis and
// reports each frame through its page state, which the host reads back from
// the component's saved state.

#include "Vst3Analysis.h"
#include "Vst3EditorHost.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <limits>
#include <numbers>
#include <vector>

namespace
{
using namespace vst3host;

// A page in the scratch HOME's web root that asks for analysis once it loads
// and keeps its page state at {answer, newest frame}.
void installReportingPage()
{
    namespace fs = std::filesystem;
    const auto home = std::getenv ("HOME");
    ASSERT_NE (home, nullptr);
    const auto root = fs::path (home) / ".config/Quillbeat/web";
    fs::create_directories (root / "juce");
    for (const auto* file : { "index.js", "check_native_interop.js" })
        fs::copy_file (fs::path (QUILLBEAT_JUCE_FRONTEND_DIR) / file, root / "juce" / file, fs::copy_options::overwrite_existing);

    std::ofstream (root / "index.html") << R"html(<!doctype html>
<html><head><script type="module">
  import { getNativeFunction } from './juce/index.js';
  const setAnalysis = getNativeFunction ('setAnalysis');
  const setPageState = getNativeFunction ('setPageState');
  const report = { answer: null, frame: null };
  const store = () => setPageState (JSON.stringify (report));
  window.__JUCE__.backend.addEventListener ('analysisFrame', (frame) => { report.frame = frame; store(); });
  setAnalysis ({ framesPerSecond: 60, fftSize: 4096, bandsPerOctave: 12, waveform: false })
    .then ((answer) => { report.answer = answer; store(); });
</script></head><body>analysis report</body></html>
)html";
}

constexpr double sineHz = 997.0;
constexpr double sineDbfs = -6.0;
constexpr double rightChannelDb = -6.0;   // the right channel carries each signal 6 dB lower, so a swap shows

double gainOf (double db) { return std::pow (10.0, db / 20.0); }

// One channel's sample at an absolute sample index.
using Signal = std::function<float (int channel, std::int64_t index)>;

struct HostSetup
{
    const char* name;
    int32 channels;
    double sampleRate;
    int32 blockSize;
    double thenSampleRate;   // the host changes to this rate with the editor open
};

std::ostream& operator<< (std::ostream& out, const HostSetup& s) { return out << s.name; }

class Vst3Analysis : public Vst3Module, public ::testing::WithParamInterface<HostSetup>
{
protected:
    void SetUp() override
    {
        installReportingPage();
        ASSERT_TRUE (window.valid()) << "no X display";
        ASSERT_TRUE (instance.valid());

        const auto& setup = GetParam();
        SpeakerArrangement arrangement = setup.channels == 1 ? SpeakerArr::kMono : SpeakerArr::kStereo;
        ASSERT_EQ (instance.processor->setBusArrangements (&arrangement, 1, &arrangement, 1), kResultTrue);

        instance.component->activateBus (kAudio, kInput, 0, true);
        instance.component->activateBus (kAudio, kOutput, 0, true);
        ASSERT_NO_FATAL_FAILURE (startProcessingAt (setup.sampleRate));

        context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kTimeSigValid;
        context.tempo = 120.0;
        context.timeSigNumerator = 4;
        context.timeSigDenominator = 4;
        context.projectTimeSamples = (TSamples) (2.0 * setup.sampleRate);

        view = owned (instance.controller->createView (ViewType::kEditor));
        ASSERT_TRUE (view);
        ASSERT_EQ (view->setFrame (&frame), kResultTrue);
        ASSERT_EQ (view->attached (window.handle(), kPlatformTypeX11EmbedWindowID), kResultTrue);

        ASSERT_TRUE (runUntil ([this] { return report().answerOk.has_value(); })) << "the page never answered: " << instance.savedState();
        ASSERT_TRUE (*report().answerOk) << instance.savedState();
    }

    void TearDown() override
    {
        if (view)
        {
            view->removed();
            view->setFrame (nullptr);
            view = nullptr;
            frame.runFor (std::chrono::milliseconds (100));
        }

        stopProcessing();
    }

    void startProcessingAt (double rate)
    {
        ProcessSetup processSetup { kRealtime, kSample32, GetParam().blockSize, rate };
        ASSERT_EQ (instance.processor->setupProcessing (processSetup), kResultOk);
        ASSERT_EQ (instance.component->setActive (true), kResultOk);
        instance.processor->setProcessing (true);
        active = true;
        sampleRate = context.sampleRate = rate;
    }

    void stopProcessing()
    {
        if (! active)
            return;

        instance.processor->setProcessing (false);
        instance.component->setActive (false);
        active = false;
    }

    PageReport report() const { return pageReportIn (instance.savedState()).value_or (PageReport {}); }

    bool runUntil (const std::function<bool()>& condition)
    {
        for (const auto end = Clock::now() + std::chrono::seconds (15); Clock::now() < end;)
        {
            if (condition())
                return true;
            frame.runFor (std::chrono::milliseconds (20));
        }
        return condition();
    }

    // Feeds about a fifth of a second of the signal through process(), each
    // block checked to come out as it went in, then waits for the frame whose
    // newest block is the last one fed. The host runs no editor events while it
    // feeds, and the previous signal's frame was already seen, so this frame
    // covers exactly this signal.
    ReportedFrame feed (const Signal& signal)
    {
        const auto& setup = GetParam();
        const auto blocks = (int) std::ceil (0.2 * sampleRate / setup.blockSize);
        const auto channels = (size_t) setup.channels;

        std::vector<std::vector<float>> in (channels, std::vector<float> ((size_t) setup.blockSize));
        std::vector<std::vector<float>> out (channels, std::vector<float> ((size_t) setup.blockSize));
        std::vector<float*> inPointers, outPointers;
        for (size_t ch = 0; ch < channels; ++ch)
        {
            inPointers.push_back (in[ch].data());
            outPointers.push_back (out[ch].data());
        }

        AudioBusBuffers inBus {}, outBus {};
        inBus.numChannels = outBus.numChannels = setup.channels;
        inBus.channelBuffers32 = inPointers.data();
        outBus.channelBuffers32 = outPointers.data();

        std::int64_t lastPosition = 0;

        for (int block = 0; block < blocks; ++block)
        {
            for (size_t ch = 0; ch < channels; ++ch)
                for (int32 i = 0; i < setup.blockSize; ++i)
                {
                    in[ch][(size_t) i] = signal ((int) ch, context.projectTimeSamples + i);
                    out[ch][(size_t) i] = 7.0f;
                }

            auto data = blockData (inBus, outBus, setup.blockSize, &context);
            EXPECT_EQ (instance.processor->process (data), kResultOk);

            for (size_t ch = 0; ch < channels; ++ch)
                EXPECT_EQ (std::memcmp (in[ch].data(), out[ch].data(), sizeof (float) * (size_t) setup.blockSize), 0)
                    << "block " << block << " channel " << ch << " changed on its way through";

            lastPosition = context.projectTimeSamples;
            context.projectTimeSamples += setup.blockSize;
        }

        blocksFed += blocks;
        samplesFed = (std::int64_t) blocks * setup.blockSize;

        const auto covers = [&] (const PageReport& r) { return r.frame && r.frame->positionSamples == lastPosition; };
        EXPECT_TRUE (runUntil ([&] { return covers (report()); })) << "no frame reached the last block: " << instance.savedState();
        return report().frame.value_or (ReportedFrame {});
    }

    // What every frame of a signal fed on its own shows: its stamps, and
    // figures that are all finite numbers.
    void expectStampsAndFiniteFigures (const ReportedFrame& f)
    {
        const auto& setup = GetParam();
        EXPECT_EQ (f.sampleRate, sampleRate);
        EXPECT_EQ (f.channels, setup.channels);
        EXPECT_EQ (f.samples, samplesFed) << "the frame covers exactly the signal";
        EXPECT_EQ (f.droppedSamples, 0);

        if (previousBlockCount >= 0)
            EXPECT_EQ (f.blockCount - previousBlockCount, blocksFed - previousBlocksFed) << "one count per block processed";
        previousBlockCount = f.blockCount;
        previousBlocksFed = blocksFed;

        ASSERT_EQ (f.levels.size(), (size_t) setup.channels);
        for (const auto& level : f.levels)
        {
            EXPECT_TRUE (std::isfinite (level.peakDb) && std::isfinite (level.rmsDb));
            EXPECT_GE (level.peakDb, -120.0);
            EXPECT_GE (level.rmsDb, -120.0);
        }

        // Settings asked for by the page, and bands up to the lower of 20 kHz and Nyquist.
        EXPECT_EQ (f.fftSize, 4096);
        EXPECT_EQ (f.bandsPerOctave, 12);
        EXPECT_EQ (f.lowHz, 20.0);
        ASSERT_EQ (f.bandDb.size(), 1u) << "one row for the sum of the channels";
        const auto top = std::min (20000.0, sampleRate / 2.0);
        EXPECT_EQ (f.bandDb[0].size(), (size_t) std::ceil (12.0 * std::log2 (top / 20.0) - 1.0e-9));
        for (const auto value : f.bandDb[0])
            EXPECT_TRUE (std::isfinite (value) && value >= -120.0) << value;
    }

    float sine (int channel, std::int64_t index) const
    {
        const auto db = sineDbfs + (channel == 0 ? 0.0 : rightChannelDb);
        return (float) (gainOf (db) * std::sin (2.0 * std::numbers::pi * sineHz * (double) index / sampleRate));
    }

    // The sine's levels in every channel, and a spectrum whose highest band
    // holds 997 Hz with nothing an octave or more away within 40 dB.
    void expectTheSine (const ReportedFrame& f, const char* label)
    {
        const auto name = GetParam().name;

        for (size_t ch = 0; ch < f.levels.size(); ++ch)
        {
            const auto expectedPeak = sineDbfs + (ch == 0 ? 0.0 : rightChannelDb);
            EXPECT_NEAR (f.levels[ch].peakDb, expectedPeak, 0.05) << "channel " << ch;
            EXPECT_NEAR (f.levels[ch].rmsDb, expectedPeak - 3.0103, 0.05) << "channel " << ch;
            EXPECT_FALSE (f.levels[ch].clipped);
            EXPECT_EQ (f.levels[ch].nonFinite, 0);
            std::cout << "[ figures  ] " << name << " " << label << " ch" << ch << ": peak " << f.levels[ch].peakDb << " dB, rms "
                      << f.levels[ch].rmsDb << " dB\n";
        }

        ASSERT_FALSE (f.bandDb.empty());
        const auto& bands = f.bandDb[0];
        const auto edge = [&] (size_t i) { return f.lowHz * std::pow (2.0, (double) i / f.bandsPerOctave); };
        const auto sineBand = (size_t) std::floor (f.bandsPerOctave * std::log2 (sineHz / f.lowHz));
        ASSERT_LT (sineBand, bands.size());

        const auto loudest = (size_t) (std::max_element (bands.begin(), bands.end()) - bands.begin());
        EXPECT_EQ (loudest, sineBand) << "loudest band " << edge (loudest) << "-" << edge (loudest + 1) << " Hz";

        double loudestFarAway = -120.0;
        for (size_t i = 0; i < bands.size(); ++i)
            if (edge (i + 1) <= sineHz / 2.0 || edge (i) >= sineHz * 2.0)
                loudestFarAway = std::max (loudestFarAway, bands[i]);
        EXPECT_LT (loudestFarAway, bands[sineBand] - 40.0);

        std::cout << "[ figures  ] " << name << " " << label << " spectrum: band " << sineBand << " (" << edge (sineBand) << "-"
                  << edge (sineBand + 1) << " Hz) " << bands[sineBand] << " dB, loudest an octave or more away " << loudestFarAway
                  << " dB\n";
    }

    HostWindow window;
    HostFrame frame;
    Instance instance;
    IPtr<IPlugView> view;
    ProcessContext context {};
    bool active = false;
    double sampleRate = 0;

    int blocksFed = 0, previousBlocksFed = 0;
    std::int64_t samplesFed = 0, previousBlockCount = -1;
};

TEST_P (Vst3Analysis, KnownSignalsReadTheirLevelsSpectrumAndFlags)
{
    const auto& setup = GetParam();
    const auto channelGain = [] (int channel) { return gainOf (channel == 0 ? 0.0 : rightChannelDb); };
    std::cout << std::fixed << std::setprecision (2);

    {
        SCOPED_TRACE ("sine");
        const auto f = feed ([&] (int ch, std::int64_t n) { return sine (ch, n); });
        expectStampsAndFiniteFigures (f);
        expectTheSine (f, "sine");
    }

    // Silence reads the floor everywhere.
    {
        SCOPED_TRACE ("silence");
        const auto f = feed ([] (int, std::int64_t) { return 0.0f; });
        expectStampsAndFiniteFigures (f);

        for (const auto& level : f.levels)
        {
            EXPECT_EQ (level.peakDb, -120.0);
            EXPECT_EQ (level.rmsDb, -120.0);
            EXPECT_FALSE (level.clipped);
        }
        ASSERT_FALSE (f.bandDb.empty());
        for (const auto value : f.bandDb[0])
            EXPECT_EQ (value, -120.0);
        std::cout << "[ figures  ] " << setup.name << " silence: peak " << f.levels[0].peakDb << " dB, rms " << f.levels[0].rmsDb
                  << " dB, highest band " << *std::max_element (f.bandDb[0].begin(), f.bandDb[0].end()) << " dB\n";
    }

    // A full-scale square (100 Hz) clips; the right channel's, 6 dB down, does not.
    {
        SCOPED_TRACE ("square");
        const auto period = (std::int64_t) std::llround (sampleRate / 100.0);
        const auto f = feed ([&] (int ch, std::int64_t n) {
            return (float) (channelGain (ch) * ((n % period) < period / 2 ? 1.0 : -1.0));
        });
        expectStampsAndFiniteFigures (f);

        for (size_t ch = 0; ch < f.levels.size(); ++ch)
        {
            const auto expectedDb = ch == 0 ? 0.0 : rightChannelDb;
            EXPECT_EQ (f.levels[ch].clipped, ch == 0) << "channel " << ch;
            EXPECT_NEAR (f.levels[ch].peakDb, expectedDb, 0.05) << "channel " << ch;
            EXPECT_NEAR (f.levels[ch].rmsDb, expectedDb, 0.05) << "channel " << ch;
            std::cout << "[ figures  ] " << setup.name << " square ch" << ch << ": peak " << f.levels[ch].peakDb << " dB, rms "
                      << f.levels[ch].rmsDb << " dB, clipped " << f.levels[ch].clipped << "\n";
        }
    }

    // The sine with NaN and +inf in every left block and -inf in every right
    // one: counted, left out of the figures (an infinity is no clip), and
    // every figure stays a finite number.
    {
        SCOPED_TRACE ("non-finite");
        const auto blockSize = setup.blockSize;
        const auto f = feed ([&] (int ch, std::int64_t n) {
            const auto inBlock = n % blockSize;   // any blockSize samples in a row hold each remainder once
            if (ch == 0 && inBlock == 3)
                return std::numeric_limits<float>::quiet_NaN();
            if (ch == 0 && inBlock == 4)
                return std::numeric_limits<float>::infinity();
            if (ch == 1 && inBlock == 5)
                return -std::numeric_limits<float>::infinity();
            return sine (ch, n);
        });
        expectStampsAndFiniteFigures (f);

        const auto blocks = f.samples / blockSize;
        for (size_t ch = 0; ch < f.levels.size(); ++ch)
        {
            const auto expectedPeak = sineDbfs + (ch == 0 ? 0.0 : rightChannelDb);
            EXPECT_EQ (f.levels[ch].nonFinite, ch == 0 ? 2 * blocks : blocks) << "channel " << ch;
            EXPECT_FALSE (f.levels[ch].clipped) << "channel " << ch;
            EXPECT_NEAR (f.levels[ch].peakDb, expectedPeak, 0.05) << "channel " << ch;
            EXPECT_NEAR (f.levels[ch].rmsDb, expectedPeak - 3.0103, 0.05) << "channel " << ch;
            std::cout << "[ figures  ] " << setup.name << " sine with non-finite samples ch" << ch << ": " << f.levels[ch].nonFinite
                      << " non-finite, peak " << f.levels[ch].peakDb << " dB, rms " << f.levels[ch].rmsDb << " dB\n";
        }
    }

    // The host changes its rate with the editor open: the analysis starts
    // afresh at the new rate, nothing counted as dropped, and the sine reads
    // as before.
    {
        SCOPED_TRACE ("after a rate change");
        stopProcessing();
        ASSERT_NO_FATAL_FAILURE (startProcessingAt (setup.thenSampleRate));
        previousBlockCount = -1;

        const auto f = feed ([&] (int ch, std::int64_t n) { return sine (ch, n); });
        expectStampsAndFiniteFigures (f);
        expectTheSine (f, ("sine at " + std::to_string ((int) sampleRate) + " Hz after the change").c_str());
    }
}

// Block sizes a host might use at each rate, an odd one among them.
INSTANTIATE_TEST_SUITE_P (HostSetups,
                          Vst3Analysis,
                          ::testing::Values (HostSetup { "Mono44k1", 1, 44100.0, 441, 96000.0 },
                                             HostSetup { "Stereo48k", 2, 48000.0, 512, 44100.0 },
                                             HostSetup { "Stereo96k", 2, 96000.0, 1024, 48000.0 }),
                          [] (const auto& info) { return std::string (info.param.name); });

} // namespace
