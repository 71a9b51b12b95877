#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string savedBytes (QuillbeatProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block.toString().toStdString();
}

void load (QuillbeatProcessor& processor, const std::string& bytes)
{
    processor.setStateInformation (bytes.data(), (int) bytes.size());
}

TEST (SessionState, FreshInstanceSavesExactBytes)
{
    QuillbeatProcessor processor;
    juce::MemoryBlock block;
    processor.getStateInformation (block);

    const std::string expected = "{\r\n"
                                 "  \"windowWidth\": 900,\r\n"
                                 "  \"windowHeight\": 640,\r\n"
                                 "  \"webState\": \"\",\r\n"
                                 "  \"version\": 1\r\n"
                                 "}";
    EXPECT_EQ (std::string (static_cast<const char*> (block.getData()), block.getSize()), expected);
}

TEST (SessionState, SaveAppendsToWhatTheBlockAlreadyHolds)
{
    QuillbeatProcessor processor;
    juce::MemoryBlock block ("prefix", 6);
    processor.getStateInformation (block);

    const std::string bytes (static_cast<const char*> (block.getData()), block.getSize());
    EXPECT_EQ (bytes.rfind ("prefix{\r\n", 0), 0u);
    EXPECT_EQ (bytes.back(), '}');
}

TEST (SessionState, NewInstanceRoundTripsToDefaults)
{
    QuillbeatProcessor first, second;
    second.setWindowSize (1000, 700);
    load (second, savedBytes (first));

    EXPECT_EQ (second.getWindowWidth(), 900);
    EXPECT_EQ (second.getWindowHeight(), 640);
    EXPECT_EQ (second.getWebState(), "");
}

struct LoadCase
{
    const char* label;
    std::string bytes;
    int width, height;
    const char* webState;
};

// Every case starts from 1000 x 700 with the page state "before".
TEST (SessionState, LoadingConvertsClampsAndIgnoresMalformedBlocks)
{
    using namespace std::string_literals;

    const LoadCase cases[] = {
        { "empty block", "", 1000, 700, "before" },
        { "not JSON", "hello", 1000, 700, "before" },
        { "broken JSON", "{\"windowWidth\": 800,", 1000, 700, "before" },
        { "array", "[800, 600]", 1000, 700, "before" },
        { "scalar", "800", 1000, 700, "before" },
        { "string", "\"x\"", 1000, 700, "before" },
        { "not UTF-8", "{\"webState\": \"\xff\xfe\"}", 1000, 700, "before" },
        { "UTF-8 cut mid-character", "{\"webState\": \"\xe2\x82\"}", 1000, 700, "before" },
        { "UTF-8 cut at the end", "{\"webState\": \"a\"}\xf0\x9f\x8e", 1000, 700, "before" },
        { "stray continuation byte", "{\"webState\": \"\x80\"}", 1000, 700, "before" },
        { "overlong encoding", "{\"webState\": \"\xc0\xa2\"}", 1000, 700, "before" },
        { "encoded surrogate", "{\"webState\": \"\xed\xa0\x80\"}", 1000, 700, "before" },
        { "beyond U+10FFFF", "{\"webState\": \"\xf4\x90\x80\x80\"}", 1000, 700, "before" },
        { "largest code point", "{\"webState\": \"\xf4\x8f\xbf\xbf\"}", 600, 400, "\xf4\x8f\xbf\xbf" },
        { "NUL inside", "{\"webState\": \"a\"}\0junk"s, 1000, 700, "before" },
        { "only webState", R"({"webState": "x"})", 600, 400, "x" },
        { "empty object", "{}", 600, 400, "" },
        { "typical", R"({"windowWidth": 800, "windowHeight": 600, "webState": "s", "version": 1})", 800, 600, "s" },
        { "width too large", R"({"windowWidth": 5000, "windowHeight": 700})", 1920, 700, "" },
        { "height negative", R"({"windowWidth": 700, "windowHeight": -3})", 700, 400, "" },
        { "beyond 32 bits", R"({"windowWidth": 5000000000, "windowHeight": -5000000000})", 1920, 400, "" },
        { "beyond 64 bits", R"({"windowWidth": 10000000000000000000, "windowHeight": -10000000000000000000})", 1920, 400, "" },
        { "minus before a point", R"({"windowWidth": 800, "windowHeight": -.5})", 1000, 700, "before" },
        { "minus before a long fraction", R"({"windowWidth": 800, "windowHeight": -.9999999999999999999999})", 1000, 700, "before" },
        { "minus before a letter", R"({"windowWidth": -x, "windowHeight": 500})", 1000, 700, "before" },
        { "huge doubles", R"({"windowWidth": 1e300, "windowHeight": -1e300})", 1920, 400, "" },
        { "fractions truncate", R"({"windowWidth": 700.9, "windowHeight": 450.99})", 700, 450, "" },
        { "numbers as text", R"({"windowWidth": "800px", "windowHeight": " 500", "webState": 5})", 800, 500, "5" },
        { "text without number", R"({"windowWidth": "wide", "windowHeight": "99999999999999999999"})", 600, 1080, "" },
        { "booleans", R"({"windowWidth": true, "windowHeight": false})", 600, 400, "" },
        { "nested values", R"({"windowWidth": [1000], "windowHeight": {"h": 1}})", 600, 400, "" },
        { "version absent", R"({"windowWidth": 640, "windowHeight": 480, "webState": "v"})", 640, 480, "v" },
        { "version odd", R"({"windowWidth": 640, "windowHeight": 480, "webState": "v", "version": "two"})", 640, 480, "v" },
        { "other layout", "\n\t{ \"windowHeight\":500 ,\"windowWidth\" :\t700 }  \n", 700, 500, "" },
    };

    for (const auto& c : cases)
    {
        QuillbeatProcessor processor;
        processor.setWindowSize (1000, 700);
        load (processor, R"({"windowWidth": 1000, "windowHeight": 700, "webState": "before"})");

        load (processor, c.bytes);

        EXPECT_EQ (processor.getWindowWidth(), c.width) << c.label;
        EXPECT_EQ (processor.getWindowHeight(), c.height) << c.label;
        EXPECT_EQ (processor.getWebState(), juce::String::fromUTF8 (c.webState)) << c.label;
    }
}

TEST (SessionState, NullOrNonPositiveSizeIsIgnored)
{
    QuillbeatProcessor processor;
    processor.setWindowSize (1000, 700);
    const char text[] = R"({"webState": "x"})";

    processor.setStateInformation (nullptr, 10);
    processor.setStateInformation (text, 0);
    processor.setStateInformation (text, -5);

    EXPECT_EQ (processor.getWindowWidth(), 1000);
    EXPECT_EQ (processor.getWindowHeight(), 700);
}

TEST (SessionState, PageStateTextRoundTripsByteForByte)
{
    const std::string texts[] = {
        "plain",
        "quote \" backslash \\ slash /",
        "controls \b\f\n\r\t \x01\x1f end",
        "non-ASCII: \xc3\xa9\xe2\x82\xac \xf0\x9f\x8e\xb9",
        R"({"nested":"json","n":[1,2]})",
        std::string (100000, 'x'),
    };

    for (const auto& text : texts)
    {
        QuillbeatProcessor original;
        const auto stateJson = juce::JSON::toString (juce::String::fromUTF8 (text.data(), (int) text.size()));
        load (original, "{\"webState\": " + stateJson.toStdString() + "}");
        ASSERT_EQ (original.getWebState().toStdString(), text);

        const auto saved = savedBytes (original);
        QuillbeatProcessor restored;
        load (restored, saved);

        EXPECT_EQ (restored.getWebState().toStdString(), text);
        EXPECT_EQ (savedBytes (restored), saved);
    }
}

TEST (SessionState, SavedTextEscapesControlsAndKeepsUtf8Raw)
{
    QuillbeatProcessor processor;
    load (processor, R"({"webState": "a\"b\\c\b\f\n\r\t\u0001\u00e9"})");

    const auto saved = savedBytes (processor);
    EXPECT_NE (saved.find (R"("webState": "a\"b\\c\b\f\n\r\t\u0001)" "\xc3\xa9\""), std::string::npos) << saved;
}

} // namespace
