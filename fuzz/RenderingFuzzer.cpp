// Arbitrary transport readings rendered for the page. Whatever a host reports,
// both scripts must run in a real JavaScript engine, the event object must
// serialise to JSON that a strict reader accepts, and the three must agree.
//
// Input layout (missing bytes read as zero, extra bytes are ignored):
//   byte 0       flags: 1 connected, 2 playing, 4 recording, 8 tagged object
//   bytes 1-8    tempo in bpm, a double's raw bits (little-endian)
//   bytes 9-16   position in seconds, a double's raw bits
//   bytes 17-20  time signature numerator, int32
//   bytes 21-24  time signature denominator, int32
//   bytes 25-28  block count, int32
// Raw bits reach every double a host could report: NaNs, infinities,
// subnormals and negative zero included.

#include "FuzzTarget.h"
#include "JavascriptChecks.h"

#include <bridge/TransportMessage.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace
{
using quillbeat::TransportReading;
using Variant = quillbeat::TransportScriptVariant;

constexpr size_t inputSize = 29;

template <typename Value>
Value readAt (const std::array<std::uint8_t, inputSize>& bytes, size_t offset)
{
    Value value;
    std::memcpy (&value, bytes.data() + offset, sizeof (Value));
    return value;
}

TransportReading readingFrom (const std::array<std::uint8_t, inputSize>& bytes)
{
    TransportReading reading;
    reading.connected = (bytes[0] & 1) != 0;
    reading.playing = (bytes[0] & 2) != 0;
    reading.recording = (bytes[0] & 4) != 0;
    reading.bpm = readAt<double> (bytes, 1);
    reading.positionSecs = readAt<double> (bytes, 9);
    reading.timeSigNum = readAt<std::int32_t> (bytes, 17);
    reading.timeSigDen = readAt<std::int32_t> (bytes, 21);
    reading.blockCount = readAt<std::int32_t> (bytes, 25);
    return reading;
}

bool isCloseTo (const juce::var& value, double expected, double tolerance)
{
    if (! (value.isDouble() || value.isInt() || value.isInt64()))
        return false;

    const auto number = (double) value;
    return std::isfinite (number) && std::abs (number - expected) <= tolerance;
}

// The members every rendering shows as they are; the two numbers that the
// scripts round are compared by the caller.
void checkSameExactMembers (const juce::var& rendered, const juce::var& object, const char* what)
{
    for (const auto* name : { "connected", "playing", "recording", "timeSigNum", "timeSigDen",
                              "positionFormatted", "debugBlockCount" })
        FUZZ_CHECK (rendered[name] == object[name], what);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    static JavascriptChecks javascript;

    std::array<std::uint8_t, inputSize> bytes {};
    std::copy_n (data, std::min (size, inputSize), bytes.begin());

    const auto reading = readingFrom (bytes);
    const auto object = quillbeat::buildTransportObject (reading, (bytes[0] & 8) != 0 ? "Event" : "");

    // The event path sends the object as one-line JSON.
    const auto json = javascript.parseJson (juce::JSON::toString (object, true));
    FUZZ_CHECK (json.has_value() && json->isObject(), "the transport object does not serialise to JSON");
    checkSameExactMembers (*json, object, "the JSON text differs from the object");

    const auto bpm = (double) object["bpm"];
    const auto position = (double) object["positionSecs"];
    FUZZ_CHECK (std::isfinite (bpm) && std::isfinite (position), "the object holds a number JSON cannot show");
    FUZZ_CHECK (isCloseTo ((*json)["bpm"], bpm, 1.0e-9 * std::max (1.0, std::abs (bpm)))
                    && isCloseTo ((*json)["positionSecs"], position, 1.0e-9 * std::max (1.0, std::abs (position))),
                "the JSON text changes a number");

    for (const auto variant : { Variant::timer, Variant::resource })
    {
        const auto assigned = javascript.transportAssignedBy (quillbeat::buildTransportScript (reading, variant));
        FUZZ_CHECK (assigned.has_value() && assigned->isObject(), "a transport script does not run");
        checkSameExactMembers (*assigned, object, "a transport script differs from the object");

        // The scripts show the tempo with one decimal and the position with three.
        FUZZ_CHECK (isCloseTo ((*assigned)["bpm"], bpm, 0.05 + 1.0e-9 * std::abs (bpm)),
                    "a transport script shows another tempo");
        FUZZ_CHECK (isCloseTo ((*assigned)["positionSecs"], position, 0.0005 + 1.0e-9 * std::abs (position)),
                    "a transport script shows another position");
    }

    return 0;
}
