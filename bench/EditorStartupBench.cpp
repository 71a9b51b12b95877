// How long the editor takes to show the page and get the first transport into
// it, how long the message thread stands still while it opens and closes, and
// what the host process and the web engine's processes hold in memory while it
// is open and after it closes. The framework's floor, a bare browser
// component serving the same page from the same folder with a plain file
// read, is measured in the same runs, taking turns with the editor.
//
// Prints the table rows: medians of several runs. Run on a display with a
// scratch HOME (scripts/bench.sh uses a virtual display and a temporary folder).
//
// The same program built against the framework as it was before a fix can
// write its editor's key figures instead (--figures-out <file>), and a later
// run puts them beside its own (--earlier-figures <file>).

#include "BareBrowserWindow.h"
#include "BenchTable.h"
#include "StallWatch.h"

#include "../tests/editor/MessageLoop.h"
#include "../tests/support/ProcessTable.h"

#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>

#include <cstring>
#include <fstream>
#include <map>
#include <vector>

extern "C" int juce_gtkWebkitMain (int argc, const char* const* argv);

namespace
{
juce::JUCEApplicationBase* noApplication() { return nullptr; }

constexpr int runs = 21;
constexpr int settleMilliseconds = 1000;

// The page notes when its first script ran, when "getTransport" first
// answered and when the editor's timer first assigned a transport.
const char* const page = R"html(<!doctype html><html><head><script>
  window.__firstScriptAt = Date.now();
  let latest;
  Object.defineProperty (window, '__transportData', { configurable: true, get () { return latest; },
    set (v) { latest = v; if (! window.__firstAssignmentAt) window.__firstAssignmentAt = Date.now(); } });
</script><script type="module">
  import { getNativeFunction } from './juce/index.js';
  getNativeFunction ('getTransport') ().then (() => { window.__firstAnswerAt = Date.now(); });
</script></head><body>bench</body></html>)html";

juce::File webRoot()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Quillbeat/web");
}

void installPage()
{
    const auto root = webRoot();
    root.getChildFile ("assets").createDirectory();
    root.getChildFile ("juce").createDirectory();
    root.getChildFile ("index.html").replaceWithText (page);

    const juce::File frontEnd (QUILLBEAT_JUCE_FRONTEND_DIR);
    for (const auto* name : { "index.js", "check_native_interop.js" })
        frontEnd.getChildFile (name).copyFileTo (root.getChildFile ("juce").getChildFile (name));
}

// The floor's provider: the same files, read plainly.
std::optional<juce::WebBrowserComponent::Resource> readFromWebRoot (const juce::String& path)
{
    const auto relative = path == "/" ? juce::String ("index.html") : path.fromFirstOccurrenceOf ("/", false, false);
    juce::MemoryBlock data;
    if (! webRoot().getChildFile (relative).loadFileAsData (data))
        return std::nullopt;

    const auto* bytes = static_cast<const std::byte*> (data.getData());
    return juce::WebBrowserComponent::Resource { { bytes, bytes + data.getSize() },
                                                 relative.endsWith (".js") ? "text/javascript" : "text/html" };
}

// Milliseconds from `start` to the time the page wrote into `mark`; -1 if it never did.
double millisecondsUntil (juce::int64 start, juce::WebBrowserComponent& view, const char* mark)
{
    if (! pageBecomes (view, juce::String ("window.") + mark, 20000))
        return -1.0;

    return (double) (juce::int64) evaluateInPage (view, juce::String ("window.") + mark).value_or (0) - (double) start;
}

long residentKiB (int pid)
{
    std::ifstream status ("/proc/" + std::to_string (pid) + "/status");
    for (std::string key; status >> key;)
        if (key == "VmRSS:")
        {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return 0;
}

// Resident memory of this process, and of all processes below it (the web engine).
struct Memory
{
    std::vector<double> hostKiB, engineKiB;

    void sample()
    {
        const auto self = (int) getpid();
        const auto processes = readProcessTable();
        long descendants = 0;

        for (const auto& [pid, process] : processes)
            for (auto p = process.parent; p > 1; p = processes.count (p) ? processes.at (p).parent : 0)
                if (p == self)
                {
                    descendants += residentKiB (pid);
                    break;
                }

        hostKiB.push_back ((double) residentKiB (self));
        engineKiB.push_back ((double) descendants);
    }

    double totalKiB() const { return bench::median (hostKiB) + bench::median (engineKiB); }

    std::string text() const
    {
        return bench::mebibytes (totalKiB()) + " (host " + bench::format ("%.1f", bench::median (hostKiB) / 1024.0)
               + " + engine " + bench::format ("%.1f", bench::median (engineKiB) / 1024.0) + ")";
    }
};

struct Results
{
    std::vector<double> firstScriptMs, firstAnswerMs, firstAssignmentMs;
    // The longest message-thread stall from building the view until a second
    // after its page's first script, and from closing it until a second later.
    std::vector<double> openStallMs, closeStallMs;
    Memory open, closed;
};

void measureFloor (Results& floor)
{
    StallWatch watch;
    {
        const auto start = juce::Time::currentTimeMillis();
        BareBrowserWindow window (juce::WebBrowserComponent::Options {}
                                      .withNativeIntegrationEnabled()
                                      .withResourceProvider (readFromWebRoot));
        window.addToDesktop (0);
        window.setVisible (true);
        floor.firstScriptMs.push_back (millisecondsUntil (start, window.view, "__firstScriptAt"));

        pumpFor (settleMilliseconds);
        floor.openStallMs.push_back (watch.longestMilliseconds());
        floor.open.sample();
        watch.restart();
    }

    pumpFor (settleMilliseconds);
    floor.closeStallMs.push_back (watch.longestMilliseconds());
    floor.closed.sample();
}

void measureEditor (Results& editorResults)
{
    QuillbeatProcessor processor;
    StallWatch watch;
    {
        const auto start = juce::Time::currentTimeMillis();
        QuillbeatEditor editor (processor);
        editor.addToDesktop (0);
        editor.setVisible (true);
        auto& view = *editor.getWebView();
        editorResults.firstScriptMs.push_back (millisecondsUntil (start, view, "__firstScriptAt"));
        editorResults.firstAnswerMs.push_back (millisecondsUntil (start, view, "__firstAnswerAt"));
        editorResults.firstAssignmentMs.push_back (millisecondsUntil (start, view, "__firstAssignmentAt"));

        pumpFor (settleMilliseconds);
        editorResults.openStallMs.push_back (watch.longestMilliseconds());
        editorResults.open.sample();
        watch.restart();
    }

    pumpFor (settleMilliseconds);
    editorResults.closeStallMs.push_back (watch.longestMilliseconds());
    editorResults.closed.sample();
}
} // namespace

int main (int argc, char** argv)
{
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
        return juce_gtkWebkitMain (argc, argv);

    std::string figuresOut, earlierFigures;
    for (int i = 1; i + 1 < argc; ++i)
    {
        if (std::strcmp (argv[i], "--figures-out") == 0)
            figuresOut = argv[++i];
        else if (std::strcmp (argv[i], "--earlier-figures") == 0)
            earlierFigures = argv[++i];
    }

    juce::JUCEApplicationBase::createInstance = &noApplication;
    const juce::ScopedJuceInitialiser_GUI juce;
    installPage();

    Memory before;
    before.sample();

    Results floor, editor;
    // Alternating which goes first, so neither always follows the other's teardown.
    for (int run = 0; run < runs; ++run)
    {
        if (run % 2 == 0)
        {
            measureFloor (floor);
            measureEditor (editor);
        }
        else
        {
            measureEditor (editor);
            measureFloor (floor);
        }
    }

    using bench::median, bench::milliseconds, bench::ratio;
    const auto longest = [] (const std::vector<double>& v) { return *std::max_element (v.begin(), v.end()); };
    const std::map<std::string, double> figures {
        { "openStallMedian", median (editor.openStallMs) },   { "openStallMax", longest (editor.openStallMs) },
        { "closeStallMedian", median (editor.closeStallMs) }, { "closeStallMax", longest (editor.closeStallMs) },
        { "firstAnswer", median (editor.firstAnswerMs) },
    };

    if (! figuresOut.empty())
    {
        std::ofstream out (figuresOut);
        for (const auto& [name, value] : figures)
            out << name << ' ' << value << '\n';
        return out ? 0 : 1;
    }

    const std::string area = "Editor";
    const auto of = " (median of " + std::to_string (runs) + ")";
    const auto floorScript = median (floor.firstScriptMs);

    bench::print ({ area, "view built to the page's first script, vs a bare browser component" + of,
                    milliseconds (median (editor.firstScriptMs)), milliseconds (floorScript),
                    ratio (median (editor.firstScriptMs), floorScript), "" });
    bench::print ({ area, "editor built to the first transport in the page (\"getTransport\" answer), vs the bare view's first script" + of,
                    milliseconds (median (editor.firstAnswerMs)), milliseconds (floorScript),
                    ratio (median (editor.firstAnswerMs), floorScript), "" });
    bench::print ({ area, "editor built to the timer's first transport push (due after 750 ms)" + of,
                    milliseconds (median (editor.firstAssignmentMs)), "—", "—", "" });
    const auto stallRow = [&] (const std::string& when, const std::vector<double>& editorMs, const std::vector<double>& floorMs)
    {
        bench::print ({ area, "message thread's longest stall " + when + " (5 ms timer), median / max of " + std::to_string (runs),
                        milliseconds (median (editorMs)) + " / " + milliseconds (longest (editorMs)),
                        milliseconds (median (floorMs)) + " / " + milliseconds (longest (floorMs)),
                        ratio (median (editorMs), median (floorMs)), "≤ 50 ms" });
    };
    stallRow ("from building the view to a second after its first script", editor.openStallMs, floor.openStallMs);
    stallRow ("from closing the view to a second later", editor.closeStallMs, floor.closeStallMs);
    if (! earlierFigures.empty())
    {
        std::map<std::string, double> earlier;
        std::ifstream in (earlierFigures);
        for (std::string name; in >> name;)
            in >> earlier[name];

        const std::string today = ", vs the framework's own start that waited for the engine (same program, median of "
                                  + std::to_string (runs) + ")";
        const auto both = [] (double medianMs, double maxMs) { return milliseconds (medianMs) + " / " + milliseconds (maxMs); };
        bench::print ({ area, "editor: message thread's longest stall while opening, median / max" + today,
                        both (figures.at ("openStallMedian"), figures.at ("openStallMax")),
                        both (earlier["openStallMedian"], earlier["openStallMax"]),
                        ratio (figures.at ("openStallMedian"), earlier["openStallMedian"]), "≤ 50 ms" });
        bench::print ({ area, "editor: message thread's longest stall while closing, median / max" + today,
                        both (figures.at ("closeStallMedian"), figures.at ("closeStallMax")),
                        both (earlier["closeStallMedian"], earlier["closeStallMax"]),
                        ratio (figures.at ("closeStallMedian"), earlier["closeStallMedian"]), "≤ 50 ms" });
        bench::print ({ area, "editor built to the first transport in the page (\"getTransport\" answer)" + today,
                        milliseconds (figures.at ("firstAnswer")), milliseconds (earlier["firstAnswer"]),
                        ratio (figures.at ("firstAnswer"), earlier["firstAnswer"]), "≤ 1" });
    }
    bench::print ({ area, "resident memory before any view: host + web engine", before.text(), "—", "—", "" });
    bench::print ({ area, "resident memory, view open: host + web engine" + of, editor.open.text(), floor.open.text(),
                    ratio (editor.open.totalKiB(), floor.open.totalKiB()), "" });
    bench::print ({ area, "resident memory after closing: host + web engine" + of, editor.closed.text(),
                    floor.closed.text(), ratio (editor.closed.totalKiB(), floor.closed.totalKiB()), "" });
    return 0;
}
