// How closely the shipped page's playhead follows the host, and what the open
// editor costs in CPU while the host plays.
//
// The host is the stand-in host's own play head (a tempo step and a loop)
// driven by a clock at a sound card's pace, 48 kHz in blocks of 512, feeding
// the real processor; the editor shows the page we ship in the real web
// engine. The page's prediction is sampled at its animation frames and set
// against the position the host had at that moment, read from the host's own
// log of blocks. CPU is the host process and its web-engine processes over
// ten seconds: a bare browser component on a static page, the page as it was
// before the playhead existed, and today's page with its smooth display off
// and on, with its analysis views (the page asks for analysis as it loads)
// and with the analysis stopped. The analysis frames' latency is measured in
// the same editor: from the capture of the newest block a frame covers to the
// frame's arrival in the page, on the plug-in's clock.
//
// Usage: QuillbeatPlayheadBench --page DIR [--earlier-page DIR]
// Prints table rows; run on a display with a scratch HOME.

#include "BareBrowserWindow.h"
#include "BenchTable.h"

#include "../tests/editor/MessageLoop.h"
#include "../tests/support/ProcessTable.h"

#include <HostPlayHead.h>
#include <editor/QuillbeatEditor.h>
#include <processor/MonotonicClock.h>
#include <processor/QuillbeatProcessor.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" int juce_gtkWebkitMain (int argc, const char* const* argv);

namespace
{
juce::JUCEApplicationBase* noApplication() { return nullptr; }

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr double blockMs = 1000.0 * blockSize / sampleRate;
constexpr double updateMs = 250.0;
constexpr int cpuSeconds = 10;

juce::File webRoot()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Quillbeat/web");
}

void installPage (const juce::File& folder)
{
    webRoot().deleteRecursively();
    folder.copyDirectoryTo (webRoot());
}

// Where the host was at the start of one block, on the plug-in's clock.
struct BlockRecord
{
    std::int64_t startNs;
    double seconds;
    bool playing;
};

// The stand-in host's play head, driven block by block at real-time pace on
// a thread of its own, logging where each block began.
class RealtimeHost
{
public:
    explicit RealtimeHost (QuillbeatProcessor& p) : processor (p)
    {
        log.resize (200000);
        playHead.setSampleRate (sampleRate);
        processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor.prepareToPlay (sampleRate, blockSize);
        processor.setPlayHead (&playHead);
        thread = std::thread ([this] { run(); });
    }

    ~RealtimeHost()
    {
        running = false;
        thread.join();
        processor.setPlayHead (nullptr);
    }

    std::vector<BlockRecord> records() const
    {
        const auto n = count.load (std::memory_order_acquire);
        return { log.begin(), log.begin() + (std::ptrdiff_t) n };
    }

    quillbeat::host::HostPlayHead playHead;

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        buffer.clear();
        juce::MidiBuffer midi;
        const auto blockNs = (std::int64_t) (1.0e9 * blockSize / sampleRate);
        auto next = quillbeat::monotonicNanoseconds();

        while (running)
        {
            const auto startNs = quillbeat::monotonicNanoseconds();
            const auto position = playHead.getPosition();
            const auto n = count.load (std::memory_order_relaxed);

            if (n < log.size())
            {
                log[n] = { startNs, position->getTimeInSeconds().orFallback (0.0), position->getIsPlaying() };
                count.store (n + 1, std::memory_order_release);
            }

            processor.processBlock (buffer, midi);
            playHead.advance (blockSize, sampleRate);

            next += blockNs;
            const auto wait = next - quillbeat::monotonicNanoseconds();
            if (wait > 0)
                std::this_thread::sleep_for (std::chrono::nanoseconds (wait));
            else
                next = quillbeat::monotonicNanoseconds();
        }
    }

    QuillbeatProcessor& processor;
    std::vector<BlockRecord> log;
    std::atomic<size_t> count { 0 };
    std::atomic<bool> running { true };
    std::thread thread;
};

// The page's clock against the plug-in's: performance.now() asked for many
// times, each call bracketed by the plug-in's clock; the quickest round trip
// places it best. Returns the offset (plug-in ns minus page ms * 1e6) and its
// uncertainty, half that round trip.
struct ClockMapping
{
    double offsetNs = 0.0, uncertaintyMs = 0.0;
};

ClockMapping mapPageClock (juce::WebBrowserComponent& view)
{
    ClockMapping best { 0.0, 1.0e9 };

    for (int i = 0; i < 40; ++i)
    {
        const auto before = quillbeat::monotonicNanoseconds();
        const auto pageMs = evaluateInPage (view, "performance.now()");
        const auto after = quillbeat::monotonicNanoseconds();

        if (! pageMs.has_value())
            continue;

        const auto halfTripMs = (double) (after - before) / 2.0e6;
        if (halfTripMs < best.uncertaintyMs)
            best = { (double) (before + after) / 2.0 - (double) *pageMs * 1.0e6, halfTripMs };
    }

    return best;
}

double percentile (std::vector<double> values, double p)
{
    if (values.empty())
        return std::nan ("");

    std::sort (values.begin(), values.end());
    return values[(size_t) std::min ((double) values.size() - 1.0, std::floor (p * (double) values.size()))];
}

struct Accuracy
{
    std::vector<double> steadyErrorsMs;
    int backwards = 0, frames = 0;
    std::vector<double> recoveryMs;      // after each stop, seek or loop wrap
    double clockUncertaintyMs = 0.0;
};

// Where the host was at `ns` on the plug-in's clock, from its block log.
std::optional<double> hostSecondsAt (const std::vector<BlockRecord>& log, double ns, size_t& index)
{
    while (index + 1 < log.size() && (double) log[index + 1].startNs <= ns)
        ++index;

    if (log.empty() || (double) log[index].startNs > ns || index + 1 >= log.size())
        return std::nullopt;

    const auto& b = log[index];
    return b.seconds + (b.playing ? (ns - (double) b.startNs) / 1.0e9 : 0.0);
}

// The moments the host's position jumped or stopped: a loop wrap, a seek, a stop or a start.
std::vector<std::int64_t> discontinuities (const std::vector<BlockRecord>& log)
{
    std::vector<std::int64_t> at;

    for (size_t i = 1; i < log.size(); ++i)
    {
        const auto expected = log[i - 1].seconds + (log[i - 1].playing ? blockSize / sampleRate : 0.0);
        if (log[i].playing != log[i - 1].playing || std::abs (log[i].seconds - expected) > 1.0e-6)
            at.push_back (log[i].startNs);
    }

    return at;
}

Accuracy measureAccuracy (const juce::File& page)
{
    installPage (page);
    QuillbeatProcessor processor;
    RealtimeHost host (processor);
    auto& head = host.playHead;

    // 4/4 at 128 bpm from bar 7, 96 bpm from bar 9, bars 9 and 10 looping.
    head.setTempo (128.0);
    head.setTimeSignature (4, 4);
    const quillbeat::host::TempoStep step { 9, 96.0 };
    head.setTempoSteps ({ &step, 1 });
    head.setLoop ({ true, 9, 10 });
    head.seekToBar (7);

    QuillbeatEditor editor (processor);
    editor.addToDesktop (0);
    editor.setVisible (true);
    auto& view = *editor.getWebView();

    Accuracy result;

    if (! pageBecomes (view, "window.quillbeatPlayhead && window.quillbeatPlayhead.predict", 20000))
    {
        std::fprintf (stderr, "bench: the page never exposed its playhead\n");
        return result;
    }

    pumpFor (1000);
    const auto clock = mapPageClock (view);
    result.clockUncertaintyMs = clock.uncertaintyMs;

    evaluateInPage (view, R"js((() => {
        const samples = window.__samples = [];
        const playhead = window.quillbeatPlayhead;
        const frame = () => {
            const t = performance.now();
            const p = playhead.predict (t);
            samples.push ([t, p.positionSecs, p.playing ? 1 : 0]);
            if (window.__sampling) requestAnimationFrame (frame);
        };
        window.__sampling = true;
        requestAnimationFrame (frame);
        return true;
    })())js");

    // Play through the tempo step and three loop wraps, stop, seek back and play on.
    head.setPlaying (true);
    pumpFor (15000);
    head.setPlaying (false);
    pumpFor (2000);
    head.seekToBar (3);
    pumpFor (1000);
    head.setPlaying (true);
    pumpFor (4000);

    evaluateInPage (view, "window.__sampling = false");
    const auto samples = juce::JSON::parse (evaluateInPage (view, "JSON.stringify (window.__samples)", 20000).value_or ("[]").toString());
    head.setPlaying (false);

    const auto log = host.records();
    const auto jumps = discontinuities (log);
    const auto settleNs = (updateMs + 150.0) * 1.0e6;   // a reading's age plus its delivery

    size_t index = 0;
    std::optional<double> previous;
    std::vector<double> firstGoodAfter (jumps.size(), -1.0);

    for (const auto& sample : *samples.getArray())
    {
        const auto ns = (double) sample[0] * 1.0e6 + clock.offsetNs;
        const auto predicted = (double) sample[1];
        const auto truth = hostSecondsAt (log, ns, index);

        if (! truth.has_value())
            continue;

        ++result.frames;
        const auto errorMs = (predicted - *truth) * 1000.0;
        const auto last = std::upper_bound (jumps.begin(), jumps.end(), (std::int64_t) ns);
        const auto sinceJumpNs = last == jumps.begin() ? 1.0e18 : ns - (double) *(last - 1);
        const auto untilJumpNs = last == jumps.end() ? 1.0e18 : (double) *last - ns;
        const auto playing = log[index].playing;

        // The host wraps its loop at a block's start, the page at the loop's
        // end: in the block before a wrap the two may stand a loop apart.
        const auto steady = playing && sinceJumpNs > settleNs && untilJumpNs > (blockMs + 2.0) * 1.0e6
                         && index > 0 && log[index - 1].playing;

        if (steady)
        {
            result.steadyErrorsMs.push_back (errorMs);
            if (previous.has_value() && predicted < *previous)
                ++result.backwards;
        }

        if (last != jumps.begin())
        {
            auto& first = firstGoodAfter[(size_t) (last - jumps.begin() - 1)];
            if (first < 0.0 && std::abs (errorMs) <= blockMs + 2.0)
                first = sinceJumpNs / 1.0e6;
        }

        previous = playing ? std::optional<double> (predicted) : std::nullopt;
    }

    for (const auto ms : firstGoodAfter)
        if (ms >= 0.0)
            result.recoveryMs.push_back (ms);

    return result;
}

// CPU time of this process and every process below it, in seconds.
double cpuSecondsOfHostAndEngine()
{
    const auto self = (int) getpid();
    std::vector<int> pids = descendantsOf (self);
    pids.push_back (self);
    const auto ticksPerSecond = (double) sysconf (_SC_CLK_TCK);
    double total = 0.0;

    for (const auto pid : pids)
    {
        std::ifstream file ("/proc/" + std::to_string (pid) + "/stat");
        std::string stat ((std::istreambuf_iterator<char> (file)), {});
        const auto afterName = stat.rfind (')');
        if (afterName == std::string::npos)
            continue;

        // After the name: state, then 10 fields, then user and system time.
        std::istringstream fields (stat.substr (afterName + 2));
        std::string field;
        double user = 0.0, system = 0.0;
        for (int i = 0; i < 11 && fields >> field; ++i) {}
        fields >> user >> system;
        total += (user + system) / ticksPerSecond;
    }

    return total;
}

// Percent of one core over `cpuSeconds`, once the view has settled.
double cpuPercentWhile (juce::WebBrowserComponent& view, const juce::String& readyExpression)
{
    pageBecomes (view, readyExpression, 20000);
    pumpFor (2000);
    const auto before = cpuSecondsOfHostAndEngine();
    const auto start = juce::Time::getMillisecondCounterHiRes();
    pumpFor (cpuSeconds * 1000);
    const auto elapsed = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
    return 100.0 * (cpuSecondsOfHostAndEngine() - before) / elapsed;
}

// A static page, served from memory.
std::optional<juce::WebBrowserComponent::Resource> staticPage (const juce::String&)
{
    const std::string html = "<!doctype html><html><body>static page</body></html>";
    const auto* bytes = reinterpret_cast<const std::byte*> (html.data());
    return juce::WebBrowserComponent::Resource { { bytes, bytes + html.size() }, "text/html" };
}

// The editor open on the installed page while the host plays at 128 bpm.
struct PlayingEditor
{
    PlayingEditor()
    {
        host.playHead.setTempo (128.0);
        host.playHead.setPlaying (true);
        editor.addToDesktop (0);
        editor.setVisible (true);
    }

    QuillbeatProcessor processor;
    RealtimeHost host { processor };
    QuillbeatEditor editor { processor };
};

double editorCpuPercent (const juce::String& readyExpression, const juce::String& setUp = {})
{
    PlayingEditor playing;
    auto& view = *playing.editor.getWebView();

    if (setUp.isNotEmpty())
    {
        pageBecomes (view, readyExpression, 20000);
        evaluateInPage (view, setUp);
    }

    return cpuPercentWhile (view, readyExpression);
}

// From a block's capture to the arrival in the page of the analysis frame
// whose newest block it is, in ms; and the frames the page got per second.
struct AnalysisLatency
{
    std::vector<double> latenciesMs;
    double framesPerSecond = 0.0, clockUncertaintyMs = 0.0;
};

AnalysisLatency measureAnalysisLatency (const juce::File& page)
{
    installPage (page);
    PlayingEditor playing;
    auto& view = *playing.editor.getWebView();

    AnalysisLatency result;
    if (! pageBecomes (view, "window.quillbeatAnalysis && window.__JUCE__ && window.__JUCE__.backend", 20000))
        return result;

    evaluateInPage (view, "window.__analysisArrivals = []; window.__JUCE__.backend.addEventListener ('analysisFrame', "
                          "(f) => window.__analysisArrivals.push ([f.captureTimeMs, performance.now()])); true");
    pumpFor (5000);
    const auto clock = mapPageClock (view);
    const auto arrivals = evaluateInPage (view, "window.__analysisArrivals", 10000).value_or (juce::var());

    if (! arrivals.isArray() || arrivals.size() < 2)
        return result;

    for (const auto& arrival : *arrivals.getArray())
        result.latenciesMs.push_back (((double) arrival[1] * 1.0e6 + clock.offsetNs) / 1.0e6 - (double) arrival[0]);

    const auto first = (double) arrivals[0][1], last = (double) arrivals[arrivals.size() - 1][1];
    result.framesPerSecond = 1000.0 * (arrivals.size() - 1) / (last - first);
    result.clockUncertaintyMs = clock.uncertaintyMs;
    return result;
}

std::string percent (double value) { return bench::format ("%.1f %%", value); }
std::string ms (double value) { return bench::format ("%.2f ms", value); }
} // namespace

int main (int argc, char** argv)
{
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
        return juce_gtkWebkitMain (argc, argv);

    juce::File page, earlierPage;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (std::strcmp (argv[i], "--page") == 0) page = juce::File (argv[i + 1]);
        if (std::strcmp (argv[i], "--earlier-page") == 0) earlierPage = juce::File (argv[i + 1]);
    }

    if (! page.getChildFile ("index.html").existsAsFile())
    {
        std::fprintf (stderr, "usage: QuillbeatPlayheadBench --page DIR [--earlier-page DIR] (DIR holds a built page)\n");
        return 2;
    }

    juce::JUCEApplicationBase::createInstance = &noApplication;
    const juce::ScopedJuceInitialiser_GUI juce;
    const std::string area = "Playhead";

    const auto accuracy = measureAccuracy (page);
    const auto& e = accuracy.steadyErrorsMs;
    std::vector<double> sizes;
    for (const auto error : e)
        sizes.push_back (std::abs (error));

    const auto goal = bench::format ("within %.1f ms (a block + 2 ms)", blockMs + 2.0);
    const auto frames = " (real engine, shipped page, " + std::to_string (e.size()) + " animation frames)";

    bench::print ({ area, "page's predicted position minus the host's while playing steadily, median" + frames,
                    ms (percentile (e, 0.5)), "—", "—", goal });
    bench::print ({ area, "same, |error|: 99th percentile", ms (percentile (sizes, 0.99)), "—", "—", goal });
    bench::print ({ area, "same, |error|: largest", ms (percentile (sizes, 1.0)), "—", "—", goal });
    bench::print ({ area, "frames where the prediction moved backwards while playing steadily",
                    std::to_string (accuracy.backwards) + " of " + std::to_string (e.size()), "—", "—", "0" });
    bench::print ({ area, "right again after a loop wrap, stop, seek or start (" + std::to_string (accuracy.recoveryMs.size())
                              + " events): slowest",
                    accuracy.recoveryMs.empty() ? "n/a" : ms (*std::max_element (accuracy.recoveryMs.begin(), accuracy.recoveryMs.end())),
                    "—", "—", "within one update (250 ms + delivery)" });
    bench::print ({ area, "page clock placed against the plug-in's to within", ms (accuracy.clockUncertaintyMs), "—", "—", "" });

    // CPU, each configuration in a fresh editor or window.
    const auto bare = [&]
    {
        BareBrowserWindow window (juce::WebBrowserComponent::Options {}.withResourceProvider (staticPage));
        window.addToDesktop (0);
        window.setVisible (true);
        return cpuPercentWhile (window.view, "document.body");
    }();

    const auto cpuRow = [&] (const std::string& what, double value)
    {
        bench::print ({ area, "CPU while playing, host + web engine, % of one core over " + std::to_string (cpuSeconds)
                                  + " s: " + what + ", vs a bare browser component on a static page",
                        percent (value), percent (bare), bench::ratio (value, bare), "" });
    };

    if (earlierPage.getChildFile ("index.html").existsAsFile())
    {
        installPage (earlierPage);
        cpuRow ("the page before the playhead", editorCpuPercent ("window.__transportData"));
    }

    installPage (page);
    const juce::String ready = "window.quillbeatPlayhead && window.quillbeatPlayhead.predict";
    cpuRow ("the shipped page, smooth display off", editorCpuPercent (ready, "window.quillbeatPlayhead.setSmooth (false)"));
    cpuRow ("the shipped page, smooth display on", editorCpuPercent (ready, "window.quillbeatPlayhead.setSmooth (true)"));

    // The same page with the analysis stopped, through the framework's own call of a native function.
    const juce::String stopAnalysis = "window.quillbeatPlayhead.setSmooth (true); window.__JUCE__.backend.emitEvent ("
                                      "'__juce__invoke', { name: 'setAnalysis', params: [null], resultId: 424242 }); true";
    cpuRow ("the shipped page, smooth display on, analysis stopped (no meters, spectrum or waveform)",
            editorCpuPercent (ready, stopAnalysis));

    const auto analysis = measureAnalysisLatency (page);
    const auto& l = analysis.latenciesMs;
    const auto analysisFrames = " (real engine, shipped page at 30 frames a second, " + std::to_string (l.size()) + " frames)";
    bench::print ({ "Analysis", "from a block's capture to its frame's arrival in the page, median" + analysisFrames,
                    l.empty() ? "n/a" : ms (percentile (l, 0.5)), "—", "—", "" });
    bench::print ({ "Analysis", "same, 99th percentile", l.empty() ? "n/a" : ms (percentile (l, 0.99)), "—", "—", "" });
    bench::print ({ "Analysis", "frames the page received per second (asked: 30)", bench::format ("%.1f", analysis.framesPerSecond),
                    "—", "—", "30 ± 10 %" });
    bench::print ({ "Analysis", "page clock placed against the plug-in's to within", ms (analysis.clockUncertaintyMs), "—", "—", "" });
    return 0;
}
