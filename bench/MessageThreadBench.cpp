// The message thread's work, measured with Google Benchmark: rendering one
// tick for the page, answering "getTransport", serving the transport script
// and a 1 MiB file, saving and loading the state, making one analysis frame
// and encoding it for the page three ways. Where the framework offers
// the same job done plainly (reading the file with juce::File, a bare JSON
// round trip of the same state) that is measured too, as the baseline.
//
// Prints the table rows: CPU-time medians of several repetitions, run in a
// random interleaving so the machine's other load spreads over all of them.

#include "BenchTable.h"

#include "../tests/unit/FakePlayHead.h"

#include <analysis/AudioAnalyser.h>
#include <bridge/AnalysisMessage.h>
#include <bridge/TransportMessage.h>
#include <editor/ResourceProvider.h>
#include <processor/QuillbeatProcessor.h>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace
{
constexpr int fileSize = 1 << 20;

// A processor that has seen one block of a playing transport, a state with a
// few KiB of page state in it, and a web root holding a 1 MiB script.
struct Fixture
{
    Fixture()
    {
        FakePlayHead playHead;
        playHead.position = FakePlayHead::playing (128.0, 4, 4, 754.321);
        processor.setPlayHead (&playHead);
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        processor.processBlock (buffer, midi);
        processor.setPlayHead (nullptr);

        // Page state as a page might keep it: a list of markers, as JSON text.
        juce::String pageState ("{\"markers\":[");
        for (int i = 0; pageState.length() < 4000; ++i)
            pageState << (i > 0 ? "," : "") << "{\"bar\":" << i * 8 + 1 << ",\"label\":\"Section " << i << "\"}";
        pageState << "]}";

        auto object = std::make_unique<juce::DynamicObject>();
        object->setProperty ("windowWidth", 1200);
        object->setProperty ("windowHeight", 800);
        object->setProperty ("webState", pageState);
        object->setProperty ("version", 1);
        state = juce::var (object.release());
        const auto text = juce::JSON::toString (state);
        savedState.append (text.toRawUTF8(), text.getNumBytesAsUTF8());
        processor.setStateInformation (savedState.getData(), (int) savedState.getSize());

        webRoot.createDirectory();
        juce::MemoryOutputStream script;
        for (int line = 0; script.getDataSize() < (size_t) fileSize; ++line)
            script << "export const value" << line << " = " << line * 31 << ";\n";
        webRoot.getChildFile ("assets").createDirectory();
        bigFile.replaceWithData (script.getData(), fileSize);
    }

    ~Fixture() { webRoot.deleteRecursively(); }

    QuillbeatProcessor processor;
    juce::var state;
    juce::MemoryBlock savedState;
    const juce::File webRoot = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                   .getNonexistentChildFile ("quillbeat-bench-web-root", {});
    const juce::File bigFile = webRoot.getChildFile ("assets/bundle.js");
};

// Made in main, inside the framework's lifetime.
std::unique_ptr<Fixture> theFixture;

Fixture& fixture() { return *theFixture; }

// Stereo audio at 48 kHz as a page at 30 frames a second sees it: 1,600
// samples a frame, a 997 Hz sine on the left and noise on the right, with the
// default analysis (levels, a 2048-point spectrum in sixth-octave bands, a
// 256-slice waveform).
struct AnalysisFixture
{
    static constexpr int samplesPerFrame = 1600;

    AnalysisFixture()
    {
        tap.allocate();
        analyser.setSettings ({});
        juce::Random random (7);
        for (int i = 0; i < samplesPerFrame; ++i)
        {
            audio.setSample (0, i, 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 997.0 * i / 48000.0));
            audio.setSample (1, i, random.nextFloat() * 0.5f - 0.25f);
        }
        writeFrameOfAudio();
        analyser.nextFrame (frame);
    }

    void writeFrameOfAudio()
    {
        block.captureTimeNs += 33'333'333;
        block.blockCount += 1;
        tap.write (audio.getArrayOfReadPointers(), 2, samplesPerFrame, block);
    }

    quillbeat::AudioTap tap;
    quillbeat::AudioAnalyser analyser { tap };
    quillbeat::AnalysisFrame frame;
    quillbeat::AudioTap::BlockInfo block { 0, 0, 0.0, 0, 48000.0 };
    juce::AudioBuffer<float> audio { 2, samplesPerFrame };
};

std::unique_ptr<AnalysisFixture> theAnalysisFixture;

AnalysisFixture& analysisFixture() { return *theAnalysisFixture; }

// The audio thread's copy into the tap is included: a few hundred nanoseconds.
void makeAnalysisFrame (benchmark::State& run)
{
    auto& f = analysisFixture();
    for (auto _ : run)
    {
        f.writeFrameOfAudio();
        if (! f.analyser.nextFrame (f.frame))
            run.SkipWithError ("no frame");
        benchmark::DoNotOptimize (f.frame);
    }
}

// What the page gets: the frame's JSON text, written directly.
void encodeFrameAsText (benchmark::State& run)
{
    const auto& frame = analysisFixture().frame;
    for (auto _ : run)
        benchmark::DoNotOptimize (quillbeat::renderAnalysisFrame (frame, 0));
}

// The same object through the framework's JSON writer, as emitEventIfBrowserIsVisible would send it.
void encodeFrameWithTheFrameworksWriter (benchmark::State& run)
{
    const auto object = juce::JSON::parse (quillbeat::renderAnalysisFrame (analysisFixture().frame, 0));
    for (auto _ : run)
        benchmark::DoNotOptimize (juce::JSON::toString (object, true));
}

// The same numbers as bare arrays, without keys: only its size is compared.
juce::var frameAsArrays (const quillbeat::AnalysisFrame& frame)
{
    juce::Array<juce::var> values { frame.blockCount, (juce::int64) frame.positionSamples.value_or (0),
                                    frame.ppqPosition.value_or (0.0), (double) frame.captureTimeNs / 1.0e6, 0.0,
                                    frame.sampleRate, (juce::int64) frame.samples, (juce::int64) frame.droppedSamples,
                                    frame.channels };
    for (const auto& level : frame.levels)
        for (const juce::var value : { juce::var (std::round (level.peakDb * 100.0) / 100.0),
                                       juce::var (std::round (level.rmsDb * 100.0) / 100.0), juce::var (level.clipped),
                                       juce::var ((juce::int64) level.nonFinite) })
            values.add (value);
    for (const auto* rows : { &frame.bandDb, &frame.waveformMin, &frame.waveformMax })
        for (const auto& row : *rows)
        {
            juce::Array<juce::var> numbers;
            for (auto v : row)
                numbers.add (std::round ((double) v * 1.0e4) / 1.0e4);
            values.add (numbers);
        }
    return values;
}

// What a resource provider would serve the page to fetch: the figures as
// 32-bit floats, with no text at all.
std::vector<std::byte> frameAsBinary (const quillbeat::AnalysisFrame& frame)
{
    std::vector<float> values { (float) frame.blockCount, (float) frame.samples };
    for (const auto& level : frame.levels)
        values.insert (values.end(), { (float) level.peakDb, (float) level.rmsDb, level.clipped ? 1.0f : 0.0f });
    for (const auto* rows : { &frame.bandDb, &frame.waveformMin, &frame.waveformMax })
        for (const auto& row : *rows)
            values.insert (values.end(), row.begin(), row.end());
    const auto* bytes = reinterpret_cast<const std::byte*> (values.data());
    return { bytes, bytes + values.size() * sizeof (float) };
}

void encodeFrameAsBinary (benchmark::State& run)
{
    const auto& frame = analysisFixture().frame;
    for (auto _ : run)
        benchmark::DoNotOptimize (frameAsBinary (frame));
}

void renderTick (benchmark::State& run)
{
    auto& processor = fixture().processor;
    for (auto _ : run)
    {
        const auto reading = processor.readTransport();
        benchmark::DoNotOptimize (quillbeat::buildTransportScript (reading, quillbeat::TransportScriptVariant::timer));
        benchmark::DoNotOptimize (quillbeat::buildTransportObject (reading, "Event"));
    }
}

void answerGetTransport (benchmark::State& run)
{
    auto& processor = fixture().processor;
    for (auto _ : run)
        benchmark::DoNotOptimize (quillbeat::buildTransportObject (processor.readTransport()));
}

void serveTransportScript (benchmark::State& run)
{
    auto& f = fixture();
    for (auto _ : run)
        benchmark::DoNotOptimize (quillbeat::serveResource (f.webRoot, f.processor, "/transport.js"));
}

void serveLargeFile (benchmark::State& run)
{
    auto& f = fixture();
    for (auto _ : run)
    {
        auto resource = quillbeat::serveResource (f.webRoot, f.processor, "/assets/bundle.js");
        if (! resource.has_value() || resource->data.size() != (size_t) fileSize)
            run.SkipWithError ("the file was not served whole");
        benchmark::DoNotOptimize (resource);
    }
}

void readLargeFilePlainly (benchmark::State& run)
{
    auto& f = fixture();
    for (auto _ : run)
    {
        juce::MemoryBlock data;
        if (! f.bigFile.loadFileAsData (data) || data.getSize() != (size_t) fileSize)
            run.SkipWithError ("the file was not read whole");
        benchmark::DoNotOptimize (data);
    }
}

// The least a file read can be: one stream, one read into a buffer of the file's size.
void readLargeFileInOneCall (benchmark::State& run)
{
    auto& f = fixture();
    for (auto _ : run)
    {
        juce::FileInputStream stream (f.bigFile);
        std::vector<std::byte> data (stream.openedOk() ? (size_t) stream.getTotalLength() : 0);
        if (stream.read (data.data(), (int) data.size()) != fileSize)
            run.SkipWithError ("the file was not read whole");
        benchmark::DoNotOptimize (data);
    }
}

void saveState (benchmark::State& run)
{
    auto& processor = fixture().processor;
    for (auto _ : run)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        benchmark::DoNotOptimize (block);
    }
}

void writeStateAsBareJson (benchmark::State& run)
{
    const auto& state = fixture().state;
    for (auto _ : run)
    {
        juce::MemoryBlock block;
        const auto text = juce::JSON::toString (state);
        block.append (text.toRawUTF8(), text.getNumBytesAsUTF8());
        benchmark::DoNotOptimize (block);
    }
}

void loadState (benchmark::State& run)
{
    auto& f = fixture();
    for (auto _ : run)
        f.processor.setStateInformation (f.savedState.getData(), (int) f.savedState.getSize());
}

void parseStateAsBareJson (benchmark::State& run)
{
    const auto& saved = fixture().savedState;
    for (auto _ : run)
        benchmark::DoNotOptimize (juce::JSON::parse (juce::String::fromUTF8 (static_cast<const char*> (saved.getData()),
                                                                              (int) saved.getSize())));
}

// Keeps the median of each benchmark's repetitions, in nanoseconds of CPU time.
class MedianCollector final : public benchmark::BenchmarkReporter
{
public:
    bool ReportContext (const Context&) override { return true; }

    void ReportRuns (const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
        {
            if (run.error_occurred)
                failed.push_back (run.run_name.function_name + ": " + run.error_message);
            else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
    }

    std::map<std::string, double> medians;
    std::vector<std::string> failed;
};

constexpr const char* frameMadeName = "one analysis frame made: 1,600 stereo samples in, levels, 2048-point spectrum and 256-slice waveform out";
constexpr const char* frameEncodedName = "one analysis frame encoded as the page gets it: its JSON text";

struct Measure
{
    const char* name;
    void (*quillbeat) (benchmark::State&);
    void (*baseline) (benchmark::State&);
    const char* baselineName;
};

const Measure measures[] = {
    { "one tick rendered: transport script and event object", renderTick, nullptr, nullptr },
    { "one \"getTransport\" answer", answerGetTransport, nullptr, nullptr },
    { "serveResource: transport script", serveTransportScript, nullptr, nullptr },
    { "serveResource: 1 MiB file", serveLargeFile, readLargeFilePlainly, "juce::File::loadFileAsData" },
    { "serveResource: 1 MiB file", serveLargeFile, readLargeFileInOneCall, "one juce::FileInputStream::read" },
    { "state save, 4 KiB page state (getStateInformation)", saveState, writeStateAsBareJson, "bare juce::JSON::toString" },
    { "state load, 4 KiB page state (setStateInformation)", loadState, parseStateAsBareJson, "bare juce::JSON::parse" },
    { frameMadeName, makeAnalysisFrame, nullptr, nullptr },
    { frameEncodedName, encodeFrameAsText, encodeFrameWithTheFrameworksWriter, "the framework's JSON writer" },
    { frameEncodedName, encodeFrameAsText, encodeFrameAsBinary, "32-bit floats for a resource provider" },
};

constexpr int repetitions = 15;

void registerBenchmark (const char* name, void (*function) (benchmark::State&))
{
    benchmark::RegisterBenchmark (name, function)
        ->Unit (benchmark::kNanosecond)
        ->MinTime (0.05)
        ->Repetitions (repetitions)
        ->ReportAggregatesOnly (true);
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;

    std::vector<char*> arguments (argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert (arguments.begin() + 1, interleave.data());
    auto count = (int) arguments.size();
    benchmark::Initialize (&count, arguments.data());

    std::set<std::string> registered;
    for (const auto& measure : measures)
        for (const auto& [name, function] : { std::pair { measure.name, measure.quillbeat }, std::pair { measure.baselineName, measure.baseline } })
            if (function != nullptr && registered.insert (name).second)
                registerBenchmark (name, function);

    theFixture = std::make_unique<Fixture>();
    theAnalysisFixture = std::make_unique<AnalysisFixture>();
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks (&collector);

    // Bytes per frame of each encoding, and what making frames costs per second of audio.
    const auto& frame = analysisFixture().frame;
    const auto textBytes = (double) quillbeat::renderAnalysisFrame (frame, 0).getNumBytesAsUTF8();
    const auto arrayBytes = (double) juce::JSON::toString (frameAsArrays (frame), true).getNumBytesAsUTF8();
    const auto binaryBytes = (double) frameAsBinary (frame).size();
    bench::print ({ "Message thread", "one analysis frame's size: its JSON text vs JSON of bare arrays", bench::count (textBytes) + " B",
                    bench::count (arrayBytes) + " B", bench::ratio (textBytes, arrayBytes) });
    bench::print ({ "Message thread", "one analysis frame's size: its JSON text vs 32-bit floats", bench::count (textBytes) + " B",
                    bench::count (binaryBytes) + " B", bench::ratio (textBytes, binaryBytes) });
    const auto made = collector.medians.find (frameMadeName);
    const auto encoded = collector.medians.find (frameEncodedName);
    if (made != collector.medians.end() && encoded != collector.medians.end())
        bench::print ({ "Message thread", "analysis per second of 48 kHz stereo audio at 30 frames a second (made and encoded), % of one core",
                        bench::format ("%.2f %%", 30.0 * (made->second + encoded->second) / 1.0e9 * 100.0) });

    theAnalysisFixture.reset();
    theFixture.reset();

    for (const auto& error : collector.failed)
        std::fprintf (stderr, "QuillbeatMessageThreadBench: %s\n", error.c_str());

    for (const auto& measure : measures)
    {
        const auto found = collector.medians.find (measure.name);
        if (found == collector.medians.end())
            continue;

        bench::Row row { "Message thread", measure.name, bench::duration (found->second) };
        if (measure.baseline != nullptr)
            if (const auto baseline = collector.medians.find (measure.baselineName); baseline != collector.medians.end())
            {
                row.measure += std::string (" vs ") + measure.baselineName;
                row.baseline = bench::duration (baseline->second);
                row.ratio = bench::ratio (found->second, baseline->second);
            }
        bench::print (row);
    }

    benchmark::Shutdown();
    return collector.failed.empty() ? 0 : 1;
}
