// Arbitrary transport readings rendered for the page. Whatever a host reports,
// both scripts must run in a real JavaScript engine, the event object must
// serialise to JSON that a strict reader accepts, and the three must agree.
// The playhead object made from the same reading must be strict JSON too,
// with every key present and null exactly where the host supplied nothing.
//
// Input layout (missing bytes read as zero, extra bytes are ignored):
//   byte 0       flags: 1 connected, 2 playing, 4 recording, 8 tagged object
//   bytes 1-8    tempo in bpm, a double's raw bits (little-endian)
//   bytes 9-16   position in seconds, a double's raw bits
//   bytes 17-20  time signature numerator, int32
//   bytes 21-24  time signature denominator, int32
//   bytes 25-28  block count, int32
//   bytes 29-36  quarter notes, a double's raw bits (also the bar start)
//   bytes 37-44  loop start in quarter notes, a double's raw bits
//   bytes 45-52  loop end in quarter notes, a double's raw bits
//   bytes 53-60  position in samples, int64 (also the bar count and host time)
//   bytes 61-62  which playhead members the host supplied, one bit each
// Raw bits reach every double a host could report: NaNs, infinities,
// subnormals and negative zero included.

#include "FuzzTarget.h"
#include "JavascriptChecks.h"

#include <bridge/PlayheadMessage.h>
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

constexpr size_t inputSize = 63;

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

quillbeat::PlayheadReading playheadFrom (const std::array<std::uint8_t, inputSize>& bytes)
{
    const auto supplied = readAt<std::uint16_t> (bytes, 61);
    const auto has = [supplied] (int bit) { return (supplied & (1u << bit)) != 0; };
    const auto ppq = readAt<double> (bytes, 29);
    const auto samples = readAt<std::int64_t> (bytes, 53);

    quillbeat::PlayheadReading r;
    r.connected = (bytes[0] & 1) != 0;
    r.blockCount = readAt<std::int32_t> (bytes, 25);
    if (has (0)) { r.playing = (bytes[0] & 2) != 0; r.recording = (bytes[0] & 4) != 0; r.looping = (bytes[0] & 16) != 0; }
    if (has (1)) r.bpm = readAt<double> (bytes, 1);
    if (has (2)) { r.timeSigNum = readAt<std::int32_t> (bytes, 17); r.timeSigDen = readAt<std::int32_t> (bytes, 21); }
    if (has (3)) r.positionSecs = readAt<double> (bytes, 9);
    if (has (4)) r.positionSamples = samples;
    if (has (5)) r.ppqPosition = ppq;
    if (has (6)) r.ppqLastBarStart = ppq;
    if (has (7)) r.barCount = samples;
    if (has (8)) { r.ppqLoopStart = readAt<double> (bytes, 37); r.ppqLoopEnd = readAt<double> (bytes, 45); }
    if (has (9)) r.sampleRate = std::abs (readAt<double> (bytes, 1)) + 1.0;
    if (has (10)) r.hostTimeNs = (std::uint64_t) samples;
    if (has (11)) r.captureTimeNs = samples;
    return r;
}

// The playhead object: strict JSON, every key there, null where nothing was
// supplied (or, for the sample rate, nothing usable), and every number finite.
void checkPlayheadObject (JavascriptChecks& javascript, const quillbeat::PlayheadReading& reading)
{
    const auto object = quillbeat::buildPlayheadObject (reading, reading.captureTimeNs.value_or (0));
    const auto json = javascript.parseJson (juce::JSON::toString (object, true));
    FUZZ_CHECK (json.has_value() && json->isObject(), "the playhead object does not serialise to JSON");

    const auto& sent = json->getDynamicObject()->getProperties();
    const auto& made = object.getDynamicObject()->getProperties();
    FUZZ_CHECK (sent.size() == 19 && made.size() == 19, "the playhead object lacks keys");

    const bool supplied[] = { true, true, reading.playing.has_value(), reading.recording.has_value(),
                              reading.looping.has_value(), reading.bpm.has_value(), reading.timeSigNum.has_value(),
                              reading.timeSigDen.has_value(), reading.positionSecs.has_value(),
                              reading.positionSamples.has_value(), reading.ppqPosition.has_value(),
                              reading.ppqLastBarStart.has_value(), reading.barCount.has_value(),
                              reading.ppqLoopStart.has_value(), reading.ppqLoopEnd.has_value(),
                              reading.sampleRate.has_value() && std::isfinite (*reading.sampleRate) && *reading.sampleRate > 0.0,
                              reading.hostTimeNs.has_value(),
                              reading.captureTimeNs.has_value(), true };

    for (int i = 0; i < sent.size(); ++i)
    {
        const auto& value = sent.getValueAt (i);
        FUZZ_CHECK (sent.getName (i) == made.getName (i), "the playhead JSON reorders its keys");
        FUZZ_CHECK (value.isVoid() != supplied[i], "a playhead member is null when supplied, or the other way round");
        FUZZ_CHECK (! (value.isDouble() && ! std::isfinite ((double) value)), "the playhead object holds a number JSON cannot show");
    }
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

    checkPlayheadObject (javascript, playheadFrom (bytes));
    return 0;
}
