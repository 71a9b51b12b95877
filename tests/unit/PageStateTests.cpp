#include <bridge/PageState.h>
#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <string>

// The rules for the text a page stores as its state, as "setPageState" applies
// them to whatever arrives from the page.

namespace
{
using namespace std::string_literals;

std::string savedBytes (QuillbeatProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block.toString().toStdString();
}

// Any bytes a page might send: accepted exactly when they are well-formed,
// NUL-free UTF-8 within the limit, and the refusal names the reason.
TEST (PageState, BytesFromThePageAreTextWithinTheLimitOrRefusedWithAReason)
{
    const auto limit = quillbeat::maxPageStateBytes;

    const struct
    {
        const char* label;
        std::string bytes;
        const char* refusalMentions; // nullptr: accepted
    } cases[] = {
        { "empty", "", nullptr },
        { "plain", "notes", nullptr },
        { "JSON", R"({"notes":"x","zoom":2})", nullptr },
        { "controls and quotes", "a\"b\\c\n\r\t\x01\x1f", nullptr },
        { "non-ASCII", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb9", nullptr },
        { "largest code point", "\xf4\x8f\xbf\xbf", nullptr },
        { "exactly the limit", std::string (limit, 'x'), nullptr },
        { "the limit in four-byte characters", [&] { std::string s; while (s.size() < limit) s += "\xf0\x9f\x8e\xb9"; return s; }(), nullptr },
        { "one byte over", std::string (limit + 1, 'x'), "1048577 bytes in UTF-8; the limit is 1048576" },
        { "far over", std::string (4 * limit, 'x'), "the limit is 1048576" },
        { "over the limit by its multi-byte characters", std::string (limit - 1, 'x') + "\xc3\xa9", "1048577 bytes" },
        { "NUL inside", "a\0b"s, "not valid text" },
        { "NUL alone", "\0"s, "not valid text" },
        { "not UTF-8", "\xff\xfe", "not valid text" },
        { "cut mid-character", "a\xe2\x82", "not valid text" },
        { "stray continuation byte", "\x80", "not valid text" },
        { "overlong", "\xc0\xa2", "not valid text" },
        { "encoded lone surrogate", "\xed\xa0\x80", "not valid text" },
        { "encoded surrogate pair", "\xed\xa0\xbd\xed\xb8\x80", "not valid text" },
        { "beyond U+10FFFF", "\xf4\x90\x80\x80", "not valid text" },
    };

    for (const auto& c : cases)
    {
        const auto refusal = quillbeat::pageStateRefusal (c.bytes.data(), c.bytes.size());

        if (c.refusalMentions == nullptr)
            EXPECT_FALSE (refusal.has_value()) << c.label << ": " << refusal.value_or ("");
        else
            EXPECT_TRUE (refusal.has_value() && refusal->contains (c.refusalMentions)) << c.label << ": " << refusal.value_or ("accepted");
    }
}

// What the native function receives: the framework's JSON reading of the
// page's arguments. Only a string is taken, never a conversion of something else.
TEST (PageState, OnlyAStringArgumentIsTaken)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("notes", "x");
    const juce::var anObject (object.release());

    const struct
    {
        const char* label;
        juce::Array<juce::var> arguments;
        const char* expectedText; // nullptr: refused
        const char* refusalMentions;
    } cases[] = {
        { "a string", { juce::var ("hello") }, "hello", nullptr },
        { "an empty string", { juce::var (juce::String()) }, "", nullptr },
        { "extra arguments are ignored", { juce::var ("first"), juce::var (2) }, "first", nullptr },
        { "non-ASCII", { juce::var (juce::String::fromUTF8 ("\xc3\xa9")) }, "\xc3\xa9", nullptr },
        { "no argument", {}, nullptr, "must be a string, not nothing" },
        { "null", { juce::var() }, nullptr, "must be a string, not nothing" },
        { "a number", { juce::var (42) }, nullptr, "must be a string, not a number" },
        { "a fraction", { juce::var (0.5) }, nullptr, "must be a string, not a number" },
        { "a boolean", { juce::var (true) }, nullptr, "must be a string, not a boolean" },
        { "an object", { anObject }, nullptr, "must be a string, not an object" },
        { "an array", { juce::var (juce::Array<juce::var> { "a" }) }, nullptr, "must be a string, not an array" },
        { "a string over the limit", { juce::var (juce::String::repeatedString ("x", (int) quillbeat::maxPageStateBytes + 1)) }, nullptr, "the limit is" },
    };

    for (const auto& c : cases)
    {
        const auto request = quillbeat::readPageStateRequest (c.arguments);

        if (c.expectedText != nullptr)
        {
            EXPECT_TRUE (request.text.has_value() && *request.text == juce::String::fromUTF8 (c.expectedText)) << c.label;
            EXPECT_TRUE (request.error.isEmpty()) << c.label;
        }
        else
        {
            EXPECT_FALSE (request.text.has_value()) << c.label;
            EXPECT_TRUE (request.error.contains (c.refusalMentions)) << c.label << ": " << request.error;
        }
    }
}

TEST (PageState, SetResultSaysOkOrWhy)
{
    EXPECT_EQ (juce::JSON::toString (quillbeat::pageStateSetResult ({}), true), R"({"ok": true})");
    EXPECT_EQ (juce::JSON::toString (quillbeat::pageStateSetResult ("too long"), true), R"({"ok": false, "error": "too long"})");
}

// The page's set stores the text in the saved state and tells the host the
// project changed, once per set; a load is counted for the editor and is not
// a change the host needs telling about.
TEST (PageState, PageSetIsSavedAndReportedToTheHostOnceAndLoadsAreCounted)
{
    struct Listener final : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
        {
            changes += details.nonParameterStateChanged ? 1 : 0;
            others += details.parameterInfoChanged || details.programChanged || details.latencyChanged ? 1 : 0;
        }

        int changes = 0, others = 0;
    } listener;

    QuillbeatProcessor processor;
    processor.addListener (&listener);

    const auto text = juce::String::fromUTF8 ("{\"notes\":\"caf\xc3\xa9\"}");
    processor.setWebStateFromPage (text);
    EXPECT_EQ (listener.changes, 1);
    EXPECT_EQ (listener.others, 0);
    EXPECT_EQ (processor.getWebState(), text);
    EXPECT_EQ (processor.getStateLoadCount(), 0u);

    const auto saved = savedBytes (processor);
    EXPECT_NE (saved.find (R"("webState": "{\"notes\":\"caf)" "\xc3\xa9" R"(\"}")"), std::string::npos) << saved;

    QuillbeatProcessor restored;
    restored.setStateInformation (saved.data(), (int) saved.size());
    EXPECT_EQ (restored.getWebState(), text);
    EXPECT_EQ (restored.getStateLoadCount(), 1u);

    processor.setStateInformation (saved.data(), (int) saved.size());
    processor.setStateInformation ("not a state", 11);
    EXPECT_EQ (processor.getStateLoadCount(), 1u) << "a refused block is no load";
    EXPECT_EQ (listener.changes, 1) << "a load is the host's own doing";

    processor.removeListener (&listener);
}

} // namespace
