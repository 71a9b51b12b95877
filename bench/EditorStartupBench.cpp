// How long the editor takes to show the page and get the first transport into
// it, and what the host process and the web engine's processes hold in memory
// while it is open and after it closes. The framework's floor, a bare browser
// component serving the same page from the same folder with a plain file
// read, is measured in the same runs, taking turns with the editor.
//
// Prints the table rows: medians of several runs. Run on a display with a
// scratch HOME (scripts/bench.sh uses a virtual display and a temporary folder).

#include "BareBrowserWindow.h"
#include "BenchTable.h"

#include "../tests/editor/MessageLoop.h"
#include "../tests/support/ProcessTable.h"

#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>

#include <cstring>
#include <fstream>
#include <vector>

extern "C" int juce_gtkWebkitMain (int argc, const char* const* argv);

namespace
{
juce::JUCEApplicationBase* noApplication() { return nullptr; }

constexpr int runs = 7;
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
    Memory open, closed;
};

void measureFloor (Results& floor)
{
    {
        const auto start = juce::Time::currentTimeMillis();
        BareBrowserWindow window (juce::WebBrowserComponent::Options {}
                                      .withNativeIntegrationEnabled()
                                      .withResourceProvider (readFromWebRoot));
        window.addToDesktop (0);
        window.setVisible (true);
        floor.firstScriptMs.push_back (millisecondsUntil (start, window.view, "__firstScriptAt"));

        pumpFor (settleMilliseconds);
        floor.open.sample();
    }

    pumpFor (settleMilliseconds);
    floor.closed.sample();
}

void measureEditor (Results& editorResults)
{
    QuillbeatProcessor processor;
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
        editorResults.open.sample();
    }

    pumpFor (settleMilliseconds);
    editorResults.closed.sample();
}
} // namespace

int main (int argc, char** argv)
{
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
        return juce_gtkWebkitMain (argc, argv);

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
    bench::print ({ area, "resident memory before any view: host + web engine", before.text(), "—", "—", "" });
    bench::print ({ area, "resident memory, view open: host + web engine" + of, editor.open.text(), floor.open.text(),
                    ratio (editor.open.totalKiB(), floor.open.totalKiB()), "" });
    bench::print ({ area, "resident memory after closing: host + web engine" + of, editor.closed.text(),
                    floor.closed.text(), ratio (editor.closed.totalKiB(), floor.closed.totalKiB()), "" });
    return 0;
}
