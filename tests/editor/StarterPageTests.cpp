#include "EditorFixture.h"

// The page a new author gets from the starter command, built and installed by
// its own commands, in the real editor: it shows the host's live transport.
// Made twice: from a clone, and from the packed client's tarball alone.

namespace
{
void expectTheLiveTransportShown (const juce::File& installed)
{
    ASSERT_TRUE (installed.getChildFile ("index.html").existsAsFile()) << "the starter page was not installed";
    webRoot().deleteRecursively();
    ASSERT_TRUE (installed.copyDirectoryTo (webRoot()));

    QuillbeatProcessor processor;
    AudioThread audio (processor);
    OpenEditor editor (processor);
    auto* view = editor->getWebView();
    ASSERT_NE (view, nullptr);

    // The audio thread plays at 128 bpm in 4/4 from 12.5 s: bar 7 onwards.
    ASSERT_TRUE (pageBecomes (*view,
                              "(t => t.startsWith ('Playing') && t.includes ('128.0 bpm') && t.includes ('4/4'))"
                              " (document.querySelector ('#transport').textContent)",
                              20000))
        << evaluateInPage (*view, "document.body.innerText").value_or (juce::var()).toString();

    const juce::String position = "document.querySelector ('#position').value";
    ASSERT_TRUE (pageBecomes (*view, "/^([7-9]|[1-9][0-9])\\.[1-4]\\.[0-9]{3}$/.test (" + position + ")", 10000))
        << evaluateInPage (*view, position).value_or (juce::var()).toString();

    // Live: the position moves on.
    const auto first = evaluateInPage (*view, position).value_or (juce::var()).toString();
    EXPECT_TRUE (pageBecomes (*view, position + " !== '" + first + "'", 5000)) << first;
}

TEST (StarterPage, ShowsTheLiveTransportInTheEditor)
{
    expectTheLiveTransportShown (juce::File (QUILLBEAT_STARTER_PAGE_DIR));
}

TEST (StarterPage, FromTheTarballAlone)
{
    expectTheLiveTransportShown (juce::File (QUILLBEAT_TARBALL_STARTER_PAGE_DIR));
}
} // namespace
