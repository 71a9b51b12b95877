// Arbitrary bytes as a saved state block, loaded the way a host loads a
// project. Whatever the bytes, the processor must not crash, must go on saving
// strict JSON with its window size inside the limits, must keep its previous
// state when the block is refused, and must load what it saved back to the
// very same bytes.

#include "FuzzTarget.h"
#include "JavascriptChecks.h"
#include "WellFormedUtf8.h"

#include <processor/QuillbeatProcessor.h>
#include <processor/SessionState.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace
{
using quillbeat::SessionState;

// Not the default state, so a refused block that reset the processor would show.
constexpr const char* startingState = R"({"windowWidth": 1234, "windowHeight": 777, "webState": "{\"kept\":true}"})";

juce::MemoryBlock savedState (QuillbeatProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

void load (QuillbeatProcessor& processor, const void* data, size_t size)
{
    processor.setStateInformation (data, (int) size);
}

bool isWholeNumberWithin (const juce::var& value, int lowest, int highest)
{
    if (! (value.isInt() || value.isInt64() || value.isDouble()))
        return false;

    const auto number = (double) value;
    return number == std::trunc (number) && number >= lowest && number <= highest;
}

void checkIsValidSavedState (const juce::MemoryBlock& block)
{
    const auto* text = static_cast<const char*> (block.getData());
    const auto size = (int) block.getSize();

    FUZZ_CHECK (size > 0 && isWellFormedUtf8 (static_cast<const std::uint8_t*> (block.getData()), (size_t) size),
                "the saved state is not UTF-8 text");

    static JavascriptChecks javascript;
    const auto parsed = javascript.parseJson (juce::String::fromUTF8 (text, size));

    FUZZ_CHECK (parsed.has_value() && parsed->isObject(), "the saved state is not a JSON object");
    FUZZ_CHECK (isWholeNumberWithin ((*parsed)["windowWidth"], SessionState::minWidth, SessionState::maxWidth),
                "the saved window width is outside the limits");
    FUZZ_CHECK (isWholeNumberWithin ((*parsed)["windowHeight"], SessionState::minHeight, SessionState::maxHeight),
                "the saved window height is outside the limits");
    FUZZ_CHECK ((*parsed)["webState"].isString(), "the saved page state is not text");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    // A host hands the block's size over as an int.
    if (size > (size_t) std::numeric_limits<int>::max())
        return -1;

    QuillbeatProcessor processor;
    load (processor, startingState, std::strlen (startingState));
    const auto before = savedState (processor);
    FUZZ_CHECK (processor.getWindowWidth() == 1234, "the starting state did not load");

    load (processor, data, size);
    const auto after = savedState (processor);

    checkIsValidSavedState (after);

    // Bad input loses nothing: a block the codec refuses leaves the state as it was.
    if (! quillbeat::decodeSessionState (data, (int) size).has_value())
        FUZZ_CHECK (after == before, "a refused block changed the saved state");

    QuillbeatProcessor reloaded;
    load (reloaded, after.getData(), after.getSize());
    FUZZ_CHECK (savedState (reloaded) == after, "the saved state does not load back to the same bytes");

    return 0;
}
