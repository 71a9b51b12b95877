#include <editor/ResourceProvider.h>
#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace
{
// A small web root beside a secret file and folder that no request may reach.
class ResourceProviderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = juce::File::createTempFile ("quillbeat-webroot");
        ASSERT_TRUE (base.createDirectory());
        root = base.getChildFile ("web");

        write ("index.html", "<!doctype html><title>page</title>");
        write ("assets/app.js", "console.log('app');");
        write ("assets/APP.JS", "upper");
        write ("assets/transport.json", "{\"file\": true}");
        write ("transport.js", "the file, never served");
        write ("Transport.js", "capital T");
        write ("style.css", "body{}");
        write ("icon.svg", "<svg/>");
        write ("logo.png", juce::String ("\x89PNG"));
        write ("data.json", "[1]");
        write ("fonts/a.woff2", "wOF2");
        write ("my%20page.html", "percent");
        write ("empty.js", "");
        ASSERT_TRUE (root.getChildFile ("folder.html").createDirectory());

        write ("../secret.txt", "secret");
        write ("../outside/a.js", "outside");
        link ("leak.html", base.getChildFile ("secret.txt"));
        link ("linkdir", base.getChildFile ("outside"));
        link ("alias.html", root.getChildFile ("index.html"));
    }

    void TearDown() override { base.deleteRecursively(); }

    void write (const juce::String& path, const juce::String& text) const
    {
        const auto file = root.getChildFile (path);
        ASSERT_TRUE (file.getParentDirectory().createDirectory());
        ASSERT_TRUE (file.replaceWithText (text, false, false, nullptr));
    }

    void link (const juce::String& path, const juce::File& target) const
    {
        std::filesystem::create_symlink (target.getFullPathName().toStdString(),
                                         root.getChildFile (path).getFullPathName().toStdString());
    }

    std::optional<juce::WebBrowserComponent::Resource> serve (const juce::String& path) const
    {
        return quillbeat::serveResource (root, processor, path);
    }

    static juce::String bodyOf (const juce::WebBrowserComponent::Resource& r)
    {
        return juce::String::fromUTF8 (reinterpret_cast<const char*> (r.data.data()), (int) r.data.size());
    }

    juce::File base, root;
    QuillbeatProcessor processor;
};

TEST_F (ResourceProviderTest, ServesFilesAndTheTransportScript)
{
    const juce::String script = "window.__transportData={connected:false,playing:false,recording:false,bpm:0.0,"
                                "timeSigNum:4,timeSigDen:4,positionSecs:0.000,positionFormatted:'0:00.000',"
                                "debugBlockCount:0,debugInfo:'JSONP'};";
    const struct
    {
        const char* path;
        const char* mimeType;
        juce::String body;
    } cases[] = {
        { "/", "text/html; charset=utf-8", "<!doctype html><title>page</title>" },
        { "", "text/html; charset=utf-8", "<!doctype html><title>page</title>" },
        { "/index.html", "text/html; charset=utf-8", "<!doctype html><title>page</title>" },
        { "/assets/app.js", "application/javascript; charset=utf-8", "console.log('app');" },
        { "/assets/APP.JS", "application/octet-stream", "upper" },
        { "/style.css", "text/css; charset=utf-8", "body{}" },
        { "/icon.svg", "image/svg+xml; charset=utf-8", "<svg/>" },
        { "/logo.png", "image/png", "\x89PNG" },
        { "/data.json", "application/json; charset=utf-8", "[1]" },
        { "/fonts/a.woff2", "application/octet-stream", "wOF2" },
        { "/my%20page.html", "text/html; charset=utf-8", "percent" },
        { "/Transport.js", "application/javascript; charset=utf-8", "capital T" },
        { "/alias.html", "text/html; charset=utf-8", "<!doctype html><title>page</title>" },
        { "/./index.html", "text/html; charset=utf-8", "<!doctype html><title>page</title>" },
        // Any path naming the transport script gets it, never a file.
        { "/transport.js", "application/javascript", script },
        { "/transport.js?t=5", "application/javascript", script },
        { "/api/transport", "application/javascript", script },
        { "/assets/transport.json", "application/javascript", script },
        { "/transport.jsx", "application/javascript", script },
        { "/../../transport.js", "application/javascript", script },
    };

    for (const auto& c : cases)
    {
        const auto resource = serve (c.path);
        ASSERT_TRUE (resource.has_value()) << c.path;
        EXPECT_EQ (resource->mimeType, c.mimeType) << c.path;
        EXPECT_EQ (bodyOf (*resource), c.body) << c.path;
    }
}

TEST_F (ResourceProviderTest, AnswersNothingForMissingEmptyAndFolderPaths)
{
    for (const auto* path : { "/missing.html", "/empty.js", "/folder.html", "/assets", "/assets/", "/index.html?v=2",
                              "/INDEX.HTML", "/my page.html" })
        EXPECT_FALSE (serve (path).has_value()) << path;
}

TEST_F (ResourceProviderTest, WithoutAnInstalledPageTheStartPageIsThePluginsOwn)
{
    // A folder name that would be markup if it reached the page unescaped.
    root = base.getChildFile ("web <b>&'\"");
    write ("style.css", "body{}");
    ASSERT_TRUE (root.getChildFile ("index.html").createDirectory());

    for (const auto* path : { "", "/", "/index.html" })
    {
        const auto resource = serve (path);
        ASSERT_TRUE (resource.has_value()) << path;
        EXPECT_EQ (resource->mimeType, "text/html; charset=utf-8") << path;
        const auto body = bodyOf (*resource);
        EXPECT_TRUE (body.contains ("id=\"quillbeat-no-page\"")) << path;
        EXPECT_TRUE (body.contains (base.getFullPathName() + "/web &lt;b&gt;&amp;&#39;&quot;")) << body;
        EXPECT_FALSE (body.contains ("<b>")) << path;
    }

    // Only the start page: everything else is still the web root's or nothing.
    EXPECT_EQ (bodyOf (serve ("/style.css").value()), "body{}");
    EXPECT_FALSE (serve ("/missing.html").has_value());
    EXPECT_FALSE (serve ("/index.html?v=2").has_value());

    // Once a page is installed, it is the start page.
    write ("index.html.tmp", "installed");
    ASSERT_TRUE (root.getChildFile ("index.html").deleteRecursively());
    ASSERT_TRUE (root.getChildFile ("index.html.tmp").moveFileTo (root.getChildFile ("index.html")));
    EXPECT_EQ (bodyOf (serve ("/").value()), "installed");
}

TEST_F (ResourceProviderTest, NoPathReachesOutsideTheWebRoot)
{
    const auto secret = base.getChildFile ("secret.txt").getFullPathName();

    const juce::String hostile[] = {
        "/../secret.txt",
        "../secret.txt",
        "/..",
        "/../",
        "/assets/../../secret.txt",
        "/assets/../index.html",
        "/./../secret.txt",
        "/../web/index.html",
        "//" + secret.substring (1),
        "///" + secret.substring (1),
        secret,
        "//etc/passwd",
        "/etc/passwd",
        "/~/.bashrc",
        "/~root/.profile",
        "/C:/Windows/win.ini",
        "/C:secret.txt",
        "/c:\\windows\\win.ini",
        "/..\\secret.txt",
        "/assets\\..\\..\\secret.txt",
        "/index.html::$DATA",
        "/leak.html",
        "/linkdir/a.js",
        "/linkdir",
        "/index.html\n",
        "/\tindex.html",
        "/index\x01.html",
        "/index.html\x7f",
        "/assets//app.js",
        "/%2e%2e/secret.txt",
        "/..%2fsecret.txt",
    };

    for (const auto& path : hostile)
    {
        const auto resource = serve (path);
        EXPECT_FALSE (resource.has_value()) << path << " gave " << (resource ? bodyOf (*resource) : juce::String());
    }
}

TEST_F (ResourceProviderTest, TransportScriptFollowsTheProcessor)
{
    juce::AudioBuffer<float> buffer (2, 16);
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);
    processor.processBlock (buffer, midi);

    const auto resource = serve ("/api/transport");
    ASSERT_TRUE (resource.has_value());
    EXPECT_TRUE (bodyOf (*resource).contains (",debugBlockCount:2,"));
}

} // namespace
