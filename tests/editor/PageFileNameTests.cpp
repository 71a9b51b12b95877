#include "EditorFixture.h"

// The page build's file-name rule (pageRules.ts) against the real engine and
// provider: a file whose name the rule passes is served when the page asks for
// it by that name; one it refuses never is, because the engine escapes the
// name in the URL and the provider looks it up as it arrives.

namespace
{
struct NamedFile
{
    const char* utf8Name;
    bool passesTheRule;
};

constexpr NamedFile namedFiles[] = {
    { "plain-name_1.0.json", true },
    { "it's(1)+more,!$&*;=@x.json", true },
    { "folder/~tilde.json", true },
    { "my notes.json", false },
    { "caf\xc3\xa9.json", false },
    { "notes#1.json", false },
    { "why?.json", false },
    { "~home.json", false },
};

// Escaped to ASCII, so the names reach the page whatever charset it is read in.
juce::String asciiJson (const juce::var& value)
{
    return juce::JSON::toString (value, juce::JSON::FormatOptions {}
                                            .withSpacing (juce::JSON::Spacing::none)
                                            .withEncoding (juce::JSON::Encoding::ascii));
}

TEST (PageFileNames, ServedExactlyWhenTheBuildRuleLetsTheNameThrough)
{
    const auto root = webRoot();
    root.deleteRecursively();
    ASSERT_TRUE (root.createDirectory());

    juce::Array<juce::var> names;

    for (const auto& file : namedFiles)
    {
        const auto name = juce::String::fromUTF8 (file.utf8Name);
        // Not getChildFile: it takes a name starting with "~" for a home folder.
        const juce::File onDisk (root.getFullPathName() + "/" + name);
        ASSERT_TRUE (onDisk.getParentDirectory().createDirectory());
        ASSERT_TRUE (onDisk.replaceWithText ("{ \"found\": true }"));
        names.add (name);
    }

    // Each name fetched as an author writes it, relative to the page.
    ASSERT_TRUE (root.getChildFile ("index.html").replaceWithText (
        "<!doctype html><html><head><meta charset=\"utf-8\"><script>\n"
        "window.__found = {};\n"
        "for (const name of " + asciiJson (names) + ")\n"
        "  fetch ('./' + name).then ((r) => r.ok ? r.json() : {}).then ((j) => j.found === true, () => false)\n"
        "    .then ((found) => { window.__found[name] = found; });\n"
        "</script></head><body></body></html>"));

    QuillbeatProcessor processor;
    OpenEditor editor (processor);
    auto* view = editor->getWebView();
    ASSERT_NE (view, nullptr);

    const auto count = (int) std::size (namedFiles);
    ASSERT_TRUE (pageBecomes (*view, "Object.keys (window.__found || {}).length === " + juce::String (count), 15000));
    const auto found = evaluateInPage (*view, "window.__found").value_or (juce::var());

    for (const auto& file : namedFiles)
        EXPECT_EQ ((bool) found[juce::Identifier (juce::String::fromUTF8 (file.utf8Name))], file.passesTheRule)
            << file.utf8Name;
}
} // namespace
