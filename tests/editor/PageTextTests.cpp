#include "EditorFixture.h"

namespace
{
const juce::String sample (juce::CharPointer_UTF8 ("caf\xc3\xa9 \xc2\xb7 1\xe2\x80\x93" "4 \xe2\x80\xa6 \xe6\x97\xa5\xe6\x9c\xac"));

// A page with the sample text in its markup, a style sheet's generated
// content, a script's string and a JSON file it fetches, as an author writes
// one: UTF-8 files and a <meta charset>.
void writePageWithText (const juce::File& folder)
{
    const auto write = [&] (const char* name, const juce::String& text)
    { ASSERT_TRUE (folder.getChildFile (name).replaceWithText (text, false, false, nullptr)); };

    ASSERT_TRUE (folder.createDirectory());
    write ("index.html", "<!doctype html><html><head><meta charset=\"utf-8\">"
                         "<link rel=\"stylesheet\" href=\"./style.css\"><script src=\"./app.js\"></script></head>"
                         "<body><p id=\"markup\">" + sample + "</p><p id=\"styled\"></p></body></html>");
    write ("style.css", "#styled::after { content: \"" + sample + "\"; }");
    write ("app.js", "window.__scriptText = \"" + sample + "\";\n"
                     "fetch ('./data.json').then ((r) => r.json()).then ((j) => { window.__jsonText = j.text; });\n");
    write ("data.json", "{ \"text\": \"" + sample + "\" }");
}

// What the page reads back of each place the sample text was put.
juce::var readBack (juce::WebBrowserComponent& view)
{
    return evaluateInPage (view, "[document.characterSet, document.getElementById ('markup').textContent,"
                                 " getComputedStyle (document.getElementById ('styled'), '::after').content,"
                                 " window.__scriptText, window.__jsonText]")
        .value_or (juce::var());
}

void expectSampleEverywhere (juce::WebBrowserComponent& view)
{
    ASSERT_TRUE (pageBecomes (view, "window.__jsonText !== undefined && document.getElementById ('styled')", 15000));
    const auto seen = readBack (view);
    ASSERT_TRUE (seen.isArray());
    EXPECT_EQ (seen[0].toString(), "UTF-8");
    EXPECT_EQ (seen[1].toString(), sample) << "markup";
    EXPECT_EQ (seen[2].toString(), "\"" + sample + "\"") << "style sheet";
    EXPECT_EQ (seen[3].toString(), sample) << "script";
    EXPECT_EQ (seen[4].toString(), sample) << "fetched JSON";
}

TEST (WebEngineText, AnInstalledPageReadsItsUtf8TextEverywhere)
{
    webRoot().deleteRecursively();
    writePageWithText (webRoot());

    QuillbeatProcessor processor;
    OpenEditor editor (processor);
    auto* view = editor->getWebView();
    ASSERT_NE (view, nullptr);
    expectSampleEverywhere (*view);
}

// The same page served by the real development server (Vite, from the page
// bundle's own dependencies), which the editor opens while none is installed.
TEST (WebEngineText, ThePageFromTheDevServerReadsItsUtf8TextEverywhere)
{
    webRoot().deleteRecursively();
    const auto project = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("utf8-page");
    writePageWithText (project);

    const juce::File vite (QUILLBEAT_WEB_DIR "/node_modules/vite/bin/vite.js");
    ASSERT_TRUE (vite.existsAsFile()) << "the page bundle's dependencies are not installed";

    // The server runs in the project's folder: a shell changes into it first.
    juce::ChildProcess server;
    ASSERT_TRUE (server.start (juce::StringArray { "sh", "-c",
                                                   "cd \"$0\" && exec node \"$1\" --host 127.0.0.1 --port 5173 --strictPort",
                                                   project.getFullPathName(), vite.getFullPathName() },
                               0));
    const juce::ScopeGuard stopServer { [&] { server.kill(); } };

    {
        QuillbeatProcessor processor;
        OpenEditor editor (processor);
        auto* view = editor->getWebView();
        ASSERT_NE (view, nullptr);
        ASSERT_TRUE (pageBecomes (*view, "window.location.href === 'http://127.0.0.1:5173/'", 30000))
            << "the editor never showed the dev server";
        expectSampleEverywhere (*view);
    }
}
} // namespace
