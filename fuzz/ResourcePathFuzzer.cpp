// Arbitrary request paths against a web root laid out for the run, with links
// that escape it and files beside it. Whatever the path, the provider must not
// crash and must never answer with bytes from outside the root: every answer
// is the transport script or the content of a file inside the root.

#include "FuzzTarget.h"
#include "WellFormedUtf8.h"

#include <bridge/TransportMessage.h>
#include <editor/ResourceProvider.h>
#include <processor/QuillbeatProcessor.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <vector>

namespace
{
// Every file outside the root holds this text, and no file inside does.
constexpr const char* outsideMarker = "OUTSIDE-THE-WEB-ROOT";

// A temporary folder holding the root "web" and, beside it, a secret file, a
// folder of scripts and a sibling whose name starts like the root's, so a
// check by name prefix would let it through. Inside the root: pages, assets,
// a link that stays inside, and links that lead out to each of those.
class FixtureWebRoot
{
public:
    FixtureWebRoot()
    {
        base = juce::File::createTempFile ("quillbeat-fuzz-webroot");
        FUZZ_CHECK (base.createDirectory(), "cannot create the fixture folder");
        root = base.getChildFile ("web");

        writeInside ("index.html", "<!doctype html><title>Quillbeat</title>");
        writeInside ("assets/app.js", "console.log('app');");
        writeInside ("assets/style.css", "body{}");
        writeInside ("data.json", "[1]");
        writeInside ("nested/deeper/page.html", "<p>deep</p>");
        writeInside ("transport.js", "a file that the transport script hides");
        FUZZ_CHECK (root.getChildFile ("folder.html").createDirectory(), "cannot create a folder");

        // Files outside carry the root's own names too, so one inserted path
        // component is enough for the fuzzer to reach them.
        writeOutside ("secret.txt");
        writeOutside ("index.html");
        writeOutside ("outside/a.js");
        writeOutside ("outside/index.html");
        writeOutside ("web-sibling/x.html");
        writeOutside ("web-sibling/index.html");

        link ("alias.html", "index.html");
        link ("leak.html", "../secret.txt");
        link ("linkdir", "../outside");
        link ("uplink", "..");
        link ("prefix-link", "../web-sibling");
        link ("assets/absolute.txt", base.getChildFile ("secret.txt").getFullPathName());
    }

    ~FixtureWebRoot() { base.deleteRecursively(); }

    const juce::File& getRoot() const { return root; }

    bool isInsideContent (const juce::String& body) const { return insideContents.contains (body); }

private:
    void write (const juce::File& file, const juce::String& text)
    {
        FUZZ_CHECK (file.getParentDirectory().createDirectory() && file.replaceWithText (text, false, false, nullptr),
                    "cannot write a fixture file");
    }

    void writeInside (const juce::String& path, const juce::String& text)
    {
        write (root.getChildFile (path), text);
        insideContents.add (text);
    }

    void writeOutside (const juce::String& path)
    {
        write (base.getChildFile (path), juce::String (outsideMarker) + " " + path);
    }

    void link (const juce::String& path, const juce::String& target)
    {
        std::error_code error;
        std::filesystem::create_symlink (target.toStdString(), root.getChildFile (path).getFullPathName().toStdString(), error);
        FUZZ_CHECK (! error, "cannot create a fixture link");
    }

    juce::File base, root;
    juce::StringArray insideContents;
};

// libFuzzer counts these bytes as coverage. The filesystem gives it none to
// follow, so every existing fixture path that a request walks through marks
// one: a request that reaches a new folder or link is kept, and later
// mutations build on it, as they do on a new branch in the code.
__attribute__ ((used, section ("__libfuzzer_extra_counters"))) std::uint8_t fixturePathsReached[512];

void markFixturePathsReached (const juce::File& root, const juce::String& path)
{
    juce::String walked;

    for (const auto& part : juce::StringArray::fromTokens (path, "/", {}))
    {
        // Only names lead somewhere new; dots would give each place many spellings.
        if (part.isEmpty() || part == ".")
            continue;

        if (part == "..")
            return;

        walked << "/" << part;

        if (! root.getChildFile (walked.substring (1)).exists())
            return;

        fixturePathsReached[(size_t) walked.hashCode64() % std::size (fixturePathsReached)] = 1;
    }
}

juce::String textOf (const std::vector<std::byte>& bytes)
{
    return juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes.data()), (int) bytes.size());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    static const FixtureWebRoot fixture;
    static const QuillbeatProcessor processor;

    // The browser hands the provider a string: text, without NULs.
    if (size > 4096 || ! isWellFormedUtf8 (data, size))
        return -1;

    const auto path = juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size);
    markFixturePathsReached (fixture.getRoot(), path);

    const auto resource = quillbeat::serveResource (fixture.getRoot(), processor, path);

    if (! resource.has_value())
        return 0;

    const auto body = textOf (resource->data);
    FUZZ_CHECK (! body.contains (outsideMarker), "served the content of a file outside the web root");

    if (path.contains ("transport.js") || path.contains ("api/transport"))
    {
        FUZZ_CHECK (resource->mimeType == "application/javascript", "the transport script has another MIME type");
        FUZZ_CHECK (body == quillbeat::buildTransportScript (processor.readTransport(), quillbeat::TransportScriptVariant::resource),
                    "served something else than the transport script");
    }
    else
    {
        FUZZ_CHECK (fixture.isInsideContent (body), "served bytes that no file inside the web root holds");
    }

    return 0;
}
