// How long the editor takes to show the page and deliver its first transport,
// and what the host process and the web engine's processes hold in memory
// while it is open and after it closes. The framework's floor, a bare
// browser component loading a page from a resource provider, is measured in
// the same run for comparison.
//
// Run on a display (scripts/bench.sh uses a virtual one).

#include "../tests/editor/MessageLoop.h"
#include "../tests/support/ProcessTable.h"

#include <editor/QuillbeatEditor.h>
#include <processor/QuillbeatProcessor.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

extern "C" int juce_gtkWebkitMain (int argc, const char* const* argv);

namespace
{
juce::JUCEApplicationBase* noApplication() { return nullptr; }

// The page notes when its first script ran and when the first transport arrived.
const char* const page = R"html(<!doctype html><html><head><script>
  window.__firstScriptAt = Date.now();
  let latest;
  Object.defineProperty (window, '__transportData', { configurable: true, get () { return latest; },
    set (v) { latest = v; if (! window.__firstTransportAt) window.__firstTransportAt = Date.now(); } });
</script></head><body>bench</body></html>)html";

double millisecondsSince (juce::int64 start, juce::WebBrowserComponent& view, const char* mark)
{
    if (! pageBecomes (view, juce::String ("window.") + mark, 20000))
        return -1.0;

    return (double) (juce::int64) evaluateInPage (view, juce::String ("window.") + mark).value_or (0) - (double) start;
}

// Resident memory, in KiB, of a process and of all processes below it.
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

std::pair<long, long> selfAndDescendantsKiB()
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

    return { residentKiB (self), descendants };
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
} // namespace

int main (int argc, char** argv)
{
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
        return juce_gtkWebkitMain (argc, argv);

    juce::JUCEApplicationBase::createInstance = &noApplication;
    const juce::ScopedJuceInitialiser_GUI juce;

    const auto webRoot = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Quillbeat/web");
    webRoot.getChildFile ("assets").createDirectory();
    webRoot.getChildFile ("index.html").replaceWithText (page);

    constexpr int runs = 5;
    std::vector<double> floorFirstScript, firstScript, firstTransport;
    std::pair<long, long> open {}, closed {}, before = selfAndDescendantsKiB();

    for (int run = 0; run < runs; ++run)
    {
        // The framework's floor: a bare browser component on the same page.
        {
            const auto start = juce::Time::currentTimeMillis();
            juce::WebBrowserComponent view (juce::WebBrowserComponent::Options {}.withNativeIntegrationEnabled().withResourceProvider ([] (const juce::String&)
            {
                const juce::String text (page);
                const auto* bytes = reinterpret_cast<const std::byte*> (text.toRawUTF8());
                return std::optional<juce::WebBrowserComponent::Resource> ({ { bytes, bytes + text.getNumBytesAsUTF8() }, "text/html" });
            }));
            view.setSize (900, 640);
            view.addToDesktop (0);
            view.setVisible (true);
            view.goToURL (juce::WebBrowserComponent::getResourceProviderRoot());
            floorFirstScript.push_back (millisecondsSince (start, view, "__firstScriptAt"));
        }
        pumpFor (300);

        // Quillbeat's editor.
        QuillbeatProcessor processor;
        {
            const auto start = juce::Time::currentTimeMillis();
            QuillbeatEditor editor (processor);
            editor.addToDesktop (0);
            editor.setVisible (true);
            auto& view = *editor.getWebView();
            firstScript.push_back (millisecondsSince (start, view, "__firstScriptAt"));
            firstTransport.push_back (millisecondsSince (start, view, "__firstTransportAt"));

            if (run == runs - 1)
            {
                pumpFor (1000);
                open = selfAndDescendantsKiB();
            }
        }

        if (run == runs - 1)
        {
            pumpFor (1000);
            closed = selfAndDescendantsKiB();
        }
    }

    const auto floorMs = median (floorFirstScript);
    std::printf ("editor start-up, median of %d runs (ms)\n", runs);
    std::printf ("  framework floor, bare browser component to the page's first script: %8.0f\n", floorMs);
    std::printf ("  Quillbeat editor to the page's first script:                       %8.0f  (%.2fx the floor)\n",
                 median (firstScript), median (firstScript) / floorMs);
    std::printf ("  Quillbeat editor to the page's first transport:                    %8.0f  (first push is due at 750 ms)\n",
                 median (firstTransport));
    std::printf ("resident memory (MiB): host process / web-engine processes\n");
    std::printf ("  before any editor:   %6.1f / %6.1f\n", before.first / 1024.0, before.second / 1024.0);
    std::printf ("  editor open:         %6.1f / %6.1f\n", open.first / 1024.0, open.second / 1024.0);
    std::printf ("  after closing:       %6.1f / %6.1f\n", closed.first / 1024.0, closed.second / 1024.0);
    return 0;
}
