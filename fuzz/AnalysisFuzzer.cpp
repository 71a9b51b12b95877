// The page's analysis requests and the frames sent back to it.
//
// The first byte chooses the half: even for a "setAnalysis" call, odd for an
// "analysisFrame".
//
// A call: the rest is the text between the call's parentheses, read as JSON
// values by the JavaScript engine and sent the way the framework's front end
// sends them (JSON.stringify of the arguments), then read by the framework's
// own JSON reader, as the native function receives them. A judge written in
// JavaScript from the rules says what the call must do; the bridge must refuse
// exactly the calls the judge refuses, always with a reason that names what
// broke the rule and never with settings, must stop exactly when asked, and
// must otherwise give the settings the judge gives, all within their ranges.
//
// A frame: the rest fills an AnalysisFrame, every number from its raw bits so
// NaNs, infinities, subnormals and negative zero are reached (missing bytes
// read as zero, extra bytes are ignored), in this order:
//   1 byte    what is there: 1 position in samples, 2 quarter notes, 4 levels,
//             8 spectrum, 16 a spectrum row per channel, 32 waveform, 64 stereo
//   int32     block count
//   int64     position in samples
//   double    quarter notes
//   int64     capture time (ns), then the time the frame is sent (ns)
//   double    sample rate
//   int64     samples covered, then samples dropped
//   int32     bands per octave, then FFT size
//   uint8     bands per row (modulo 65)
//   uint16    waveform slices (modulo 1025)
//   2 times   a channel's levels: double peak dB, double RMS dB, uint8 clipped,
//             int64 non-finite count (the second only used in stereo)
//   floats    the spectrum rows, then the waveform's minimum rows, then its maximum rows
// The event object, as the framework sends it, must be JSON that the engine's
// strict reader accepts, with every key in its order, null exactly where
// nothing was asked for or supplied, every dB value finite, at or above the
// floor and to 0.01 dB, every waveform value finite and to 0.0001, each near
// the figure it shows, and no negative zero anywhere.

#include "FuzzTarget.h"
#include "JavascriptChecks.h"

#include <bridge/AnalysisMessage.h>
#include <bridge/AnalysisRequest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace
{
using quillbeat::AnalysisFrame;
using quillbeat::AnalysisSettings;

// The page side of a call, and the rules a call must keep, written from the
// contract rather than from the bridge so the two can disagree.
constexpr const char* pageSide = R"js(
function sentByPage (argumentText) {
    return JSON.stringify (JSON.parse ("[" + argumentText + "]"));
}

function isWholeWithin (lowest, highest) {
    return function (v) { return Number.isInteger (v) && v >= lowest && v <= highest; };
}

function isOneOf (values) {
    return function (v) { return values.indexOf (v) >= 0; };
}

function isBoolean (v) { return typeof v === "boolean"; }

var analysisRules = {
    levels: isBoolean,
    spectrum: isBoolean,
    waveform: isBoolean,
    framesPerSecond: isWholeWithin (15, 60),
    fftSize: isOneOf ([1024, 2048, 4096]),
    bandsPerOctave: isOneOf ([1, 2, 3, 6, 12, 24]),
    spectrumChannels: isOneOf (["sum", "each"]),
    waveformSlices: isWholeWithin (1, 1024)
};

function has (object, key) { return Object.prototype.hasOwnProperty.call (object, key); }

// { outcome: "refused", blame: [what broke a rule] }, { outcome: "stop" }
// or { outcome: "settings", settings: {...} }.
function judgeAnalysisRequest (sent) {
    var args = JSON.parse (sent);

    if (args.length !== 1)
        return { outcome: "refused", blame: ["argument"] };

    var asked = args[0];

    if (asked === null)
        return { outcome: "stop" };

    if (typeof asked !== "object" || Array.isArray (asked))
        return { outcome: "refused", blame: ["object"] };

    var blame = Object.keys (asked).filter (function (key) {
        return ! has (analysisRules, key) || ! analysisRules[key] (asked[key]);
    });

    if (blame.length > 0)
        return { outcome: "refused", blame: blame };

    function given (key, otherwise) { return has (asked, key) ? asked[key] : otherwise; }

    var settings = {
        levels: given ("levels", true),
        spectrum: given ("spectrum", true),
        waveform: given ("waveform", true),
        framesPerSecond: given ("framesPerSecond", 30),
        fftSize: given ("fftSize", 2048),
        bandsPerOctave: given ("bandsPerOctave", 6),
        spectrumPerChannel: given ("spectrumChannels", "sum") === "each",
        waveformSlices: given ("waveformSlices", 256)
    };

    if (! settings.levels && ! settings.spectrum && ! settings.waveform)
        return { outcome: "stop" };

    return { outcome: "settings", settings: settings };
}
)js";

JavascriptChecks& javascript()
{
    static JavascriptChecks checks;
    static const bool defined = checks.define (pageSide);
    FUZZ_CHECK (defined, "the page side of the call does not run");
    return checks;
}

//==============================================================================
bool isWithin (int value, std::initializer_list<int> allowed)
{
    return std::find (allowed.begin(), allowed.end(), value) != allowed.end();
}

void checkIsWithinRanges (const AnalysisSettings& s)
{
    FUZZ_CHECK (s.framesPerSecond >= 15 && s.framesPerSecond <= 60, "accepted settings hold a frame rate out of range");
    FUZZ_CHECK (isWithin (s.fftSize, { 1024, 2048, 4096 }), "accepted settings hold an FFT size out of range");
    FUZZ_CHECK (isWithin (s.bandsPerOctave, { 1, 2, 3, 6, 12, 24 }), "accepted settings hold a band resolution out of range");
    FUZZ_CHECK (s.waveformSlices >= 1 && s.waveformSlices <= 1024, "accepted settings hold a slice count out of range");
    FUZZ_CHECK (s.levels || s.spectrum || s.waveform, "accepted settings ask for nothing");
}

AnalysisSettings settingsFrom (const juce::var& judged)
{
    AnalysisSettings s;
    s.levels = (bool) judged["levels"];
    s.spectrum = (bool) judged["spectrum"];
    s.waveform = (bool) judged["waveform"];
    s.framesPerSecond = (int) judged["framesPerSecond"];
    s.fftSize = (int) judged["fftSize"];
    s.bandsPerOctave = (int) judged["bandsPerOctave"];
    s.spectrumPerChannel = (bool) judged["spectrumPerChannel"];
    s.waveformSlices = (int) judged["waveformSlices"];
    return s;
}

bool namesOneOf (const juce::String& reason, const juce::var& blame)
{
    if (const auto* names = blame.getArray())
        for (const auto& name : *names)
            if (reason.contains (name.toString()))
                return true;

    return false;
}

int fuzzRequest (const std::uint8_t* data, size_t size)
{
    auto& engine = javascript();
    const auto sent = engine.call ("sentByPage", juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size));

    // Not values a page could put between the parentheses.
    if (! sent.has_value() || ! sent->isString())
        return -1;

    // The framework drops a message its JSON reader refuses (an empty key, a
    // lone surrogate) before any native function sees it; nothing of ours runs.
    const auto received = juce::JSON::fromString (sent->toString());

    if (! received.isArray())
        return -1;

    const auto request = quillbeat::readAnalysisRequest (*received.getArray());
    const auto verdict = engine.call ("judgeAnalysisRequest", *sent);
    FUZZ_CHECK (verdict.has_value() && verdict->isObject(), "the judge does not run");

    const auto outcome = (*verdict)["outcome"].toString();

    if (outcome == "refused")
    {
        FUZZ_CHECK (request.isRefused(), "a call that breaks a rule is not refused");
        FUZZ_CHECK (! request.settings.has_value(), "a refusal carries settings");
        FUZZ_CHECK (namesOneOf (request.error, (*verdict)["blame"]), "a refusal does not name what broke the rule");
        return 0;
    }

    FUZZ_CHECK (! request.isRefused(), "a call that keeps every rule is refused");

    if (outcome == "stop")
    {
        FUZZ_CHECK (! request.settings.has_value(), "a stop carries settings");
        return 0;
    }

    FUZZ_CHECK (request.settings.has_value(), "a call asking for analysis gives no settings");
    checkIsWithinRanges (*request.settings);
    FUZZ_CHECK (*request.settings == settingsFrom ((*verdict)["settings"]), "the settings differ from what was asked");
    return 0;
}

//==============================================================================
// Reads the input in order; past its end every byte reads as zero.
class ByteReader
{
public:
    ByteReader (const std::uint8_t* d, size_t s) : data (d), size (s) {}

    template <typename Value>
    Value next()
    {
        std::uint8_t bytes[sizeof (Value)] {};
        const auto available = position < size ? std::min (sizeof (Value), size - position) : (size_t) 0;
        std::memcpy (bytes, data + position, available);
        position += sizeof (Value);

        Value value;
        std::memcpy (&value, bytes, sizeof (Value));
        return value;
    }

    std::vector<std::vector<float>> rows (size_t count, size_t length)
    {
        std::vector<std::vector<float>> result (count);

        for (auto& row : result)
            for (size_t i = 0; i < length; ++i)
                row.push_back (next<float>());

        return result;
    }

private:
    const std::uint8_t* data;
    size_t size;
    size_t position = 0;
};

struct FrameInput
{
    AnalysisFrame frame;
    std::int64_t sentTimeNs = 0;
};

FrameInput frameFrom (const std::uint8_t* data, size_t size)
{
    ByteReader in (data, size);
    FrameInput input;
    auto& f = input.frame;

    const auto has = in.next<std::uint8_t>();
    f.blockCount = in.next<std::int32_t>();
    const auto positionSamples = in.next<std::int64_t>();
    const auto ppqPosition = in.next<double>();
    f.captureTimeNs = in.next<std::int64_t>();
    input.sentTimeNs = in.next<std::int64_t>();
    f.sampleRate = in.next<double>();
    f.samples = in.next<std::int64_t>();
    f.droppedSamples = in.next<std::int64_t>();
    const auto bandsPerOctave = in.next<std::int32_t>();
    const auto fftSize = in.next<std::int32_t>();
    const auto bands = (size_t) (in.next<std::uint8_t>() % 65);
    const auto slices = (size_t) (in.next<std::uint16_t>() % 1025);

    if ((has & 1) != 0) f.positionSamples = positionSamples;
    if ((has & 2) != 0) f.ppqPosition = ppqPosition;
    f.channels = (has & 64) != 0 ? 2 : 1;

    quillbeat::ChannelLevels levels[2];

    for (auto& l : levels)
    {
        l.peakDb = in.next<double>();
        l.rmsDb = in.next<double>();
        l.clipped = (in.next<std::uint8_t>() & 1) != 0;
        l.nonFinite = in.next<std::int64_t>();
    }

    if ((has & 4) != 0)
        f.levels.assign (levels, levels + f.channels);

    if ((has & 8) != 0)
    {
        f.bandsPerOctave = bandsPerOctave;
        f.fftSize = fftSize;
        f.bandDb = in.rows ((has & 16) != 0 ? (size_t) f.channels : 1, bands);
    }

    if ((has & 32) != 0)
    {
        f.waveformMin = in.rows ((size_t) f.channels, slices);
        f.waveformMax = in.rows ((size_t) f.channels, slices);
    }

    return input;
}

//==============================================================================
std::optional<double> numberIn (const juce::var& value)
{
    if (value.isInt() || value.isInt64() || value.isDouble())
        return (double) value;

    return std::nullopt;
}

bool isCloseTo (const juce::var& value, double expected)
{
    const auto number = numberIn (value);
    return number.has_value() && std::abs (*number - expected) <= 1.0e-9 * std::max (1.0, std::abs (expected));
}

// The double nearest a whole number of 1 / perUnit, for values small enough
// that such a number is exact.
bool isRoundedTo (double value, double perUnit)
{
    return std::abs (value) >= 1.0e9 || juce::exactlyEqual (std::round (value * perUnit) / perUnit, value);
}

void checkKeys (const juce::var& sent, std::initializer_list<const char*> keys, const char* what)
{
    const auto* object = sent.getDynamicObject();
    FUZZ_CHECK (object != nullptr && ! sent.isArray(), what);

    const auto& properties = object->getProperties();
    FUZZ_CHECK (properties.size() == (int) keys.size(), what);

    int i = 0;
    for (const auto* key : keys)
        FUZZ_CHECK (properties.getName (i++).toString() == key, what);
}

void checkDecibels (const juce::var& sent, double given)
{
    constexpr auto floor = AnalysisFrame::floorDb;
    const auto number = numberIn (sent);

    FUZZ_CHECK (number.has_value() && std::isfinite (*number) && *number >= floor,
                "a dB value is not a finite number at or above the floor");
    FUZZ_CHECK (isRoundedTo (*number, 100.0), "a dB value is not to 0.01 dB");

    if (std::isfinite (given) && given >= floor && given <= 1.0e6)
        FUZZ_CHECK (std::abs (*number - given) <= 0.005 + 1.0e-9 * std::abs (given), "a dB value moved more than its rounding");
    else if (! (given >= floor))
        FUZZ_CHECK (juce::exactlyEqual (*number, floor), "a dB value below the floor, or not a number, does not read as the floor");
}

void checkSampleValue (const juce::var& sent, float given)
{
    const auto number = numberIn (sent);

    FUZZ_CHECK (number.has_value() && std::isfinite (*number), "a waveform value is not a finite number");
    FUZZ_CHECK (isRoundedTo (*number, 1.0e4), "a waveform value is not to 0.0001");

    if (std::isfinite (given))
        FUZZ_CHECK (std::abs (*number - (double) given) <= 0.5e-4 + 1.0e-9 * std::abs ((double) given),
                    "a waveform value moved more than its rounding");
}

template <typename CheckValue>
void checkRows (const juce::var& sent, const std::vector<std::vector<float>>& given, CheckValue checkValue, const char* what)
{
    const auto* rows = sent.getArray();
    FUZZ_CHECK (rows != nullptr && rows->size() == (int) given.size(), what);

    for (size_t r = 0; r < given.size(); ++r)
    {
        const auto* values = rows->getReference ((int) r).getArray();
        FUZZ_CHECK (values != nullptr && values->size() == (int) given[r].size(), what);

        for (size_t i = 0; i < given[r].size(); ++i)
            checkValue (values->getReference ((int) i), given[r][i]);
    }
}

// A number written as "-0", "-0.0", "-0e5" and the like reads back as zero and
// tells the page nothing but trouble (1 / x, Object.is).
bool holdsNegativeZero (const juce::String& json)
{
    const auto text = json.toStdString();

    for (auto minus = text.find ('-'); minus != std::string::npos; minus = text.find ('-', minus + 1))
    {
        const bool isExponent = minus > 0 && (text[minus - 1] == 'e' || text[minus - 1] == 'E');

        if (! isExponent && juce::exactlyEqual (std::strtod (text.c_str() + minus, nullptr), 0.0))
            return true;
    }

    return false;
}

void checkFrameObject (const FrameInput& input)
{
    const auto& frame = input.frame;
    // The text the event hands the page's JSON.parse.
    const auto json = quillbeat::renderAnalysisFrame (frame, input.sentTimeNs);
    FUZZ_CHECK (! json.containsAnyOf ("'\\"), "the frame's text holds a quote or backslash the event script cannot carry");
    const auto parsed = javascript().parseJson (json);
    FUZZ_CHECK (parsed.has_value(), "the frame does not serialise to JSON");
    FUZZ_CHECK (! holdsNegativeZero (json), "the frame's JSON holds a negative zero");

    const auto& sent = *parsed;
    checkKeys (sent, { "blockCount", "positionSamples", "ppqPosition", "captureTimeMs", "sentTimeMs", "sampleRate",
                       "samples", "droppedSamples", "channels", "levels", "spectrum", "waveform" },
               "the frame's keys are not the contract's, in its order");

    FUZZ_CHECK (isCloseTo (sent["blockCount"], frame.blockCount), "the block count changed");
    FUZZ_CHECK (isCloseTo (sent["channels"], frame.channels), "the channel count changed");
    FUZZ_CHECK (isCloseTo (sent["samples"], (double) frame.samples), "the sample count changed");
    FUZZ_CHECK (isCloseTo (sent["droppedSamples"], (double) frame.droppedSamples), "the dropped count changed");
    FUZZ_CHECK (isCloseTo (sent["captureTimeMs"], (double) frame.captureTimeNs / 1.0e6), "the capture time changed");
    FUZZ_CHECK (isCloseTo (sent["sentTimeMs"], (double) input.sentTimeNs / 1.0e6), "the sending time changed");

    const auto sampleRate = numberIn (sent["sampleRate"]);
    FUZZ_CHECK (sampleRate.has_value() && std::isfinite (*sampleRate), "the sample rate is not a finite number");
    if (std::isfinite (frame.sampleRate) && std::abs (frame.sampleRate) < 1.0e9)
        FUZZ_CHECK (isCloseTo (sent["sampleRate"], frame.sampleRate), "the sample rate changed");

    FUZZ_CHECK (sent["positionSamples"].isVoid() != frame.positionSamples.has_value(),
                "the position in samples is null when supplied, or the other way round");
    if (frame.positionSamples)
        FUZZ_CHECK (isCloseTo (sent["positionSamples"], (double) *frame.positionSamples), "the position in samples changed");

    FUZZ_CHECK (sent["ppqPosition"].isVoid() != frame.ppqPosition.has_value(),
                "the quarter notes are null when supplied, or the other way round");
    if (frame.ppqPosition)
    {
        const auto ppq = numberIn (sent["ppqPosition"]);
        FUZZ_CHECK (ppq.has_value() && std::isfinite (*ppq), "the quarter notes are not a finite number");
        if (std::isfinite (*frame.ppqPosition) && std::abs (*frame.ppqPosition) < 1.0e9)
            FUZZ_CHECK (isCloseTo (sent["ppqPosition"], *frame.ppqPosition), "the quarter notes changed");
    }

    FUZZ_CHECK (sent["levels"].isVoid() == frame.levels.empty(), "the levels are null when asked for, or the other way round");
    if (! frame.levels.empty())
    {
        const auto* channels = sent["levels"].getArray();
        FUZZ_CHECK (channels != nullptr && channels->size() == (int) frame.levels.size(), "the levels lack a channel");

        for (size_t c = 0; c < frame.levels.size(); ++c)
        {
            const auto& given = frame.levels[c];
            const auto& level = channels->getReference ((int) c);
            checkKeys (level, { "peakDb", "rmsDb", "clipped", "nonFinite" }, "a channel's level keys are not the contract's");
            checkDecibels (level["peakDb"], given.peakDb);
            checkDecibels (level["rmsDb"], given.rmsDb);
            FUZZ_CHECK (level["clipped"].isBool() && (bool) level["clipped"] == given.clipped, "the clipping flag changed");
            FUZZ_CHECK (isCloseTo (level["nonFinite"], (double) given.nonFinite), "the non-finite count changed");
        }
    }

    FUZZ_CHECK (sent["spectrum"].isVoid() != frame.hasSpectrum(), "the spectrum is null when asked for, or the other way round");
    if (frame.hasSpectrum())
    {
        const auto& spectrum = sent["spectrum"];
        checkKeys (spectrum, { "fftSize", "lowHz", "bandsPerOctave", "db" }, "the spectrum's keys are not the contract's");
        FUZZ_CHECK (isCloseTo (spectrum["fftSize"], frame.fftSize), "the FFT size changed");
        FUZZ_CHECK (isCloseTo (spectrum["lowHz"], 20.0), "the lowest band does not start at 20 Hz");
        FUZZ_CHECK (isCloseTo (spectrum["bandsPerOctave"], frame.bandsPerOctave), "the band resolution changed");
        checkRows (spectrum["db"], frame.bandDb, [] (const juce::var& v, float given) { checkDecibels (v, given); },
                   "the spectrum's rows are not the frame's");
    }

    FUZZ_CHECK (sent["waveform"].isVoid() != frame.hasWaveform(), "the waveform is null when asked for, or the other way round");
    if (frame.hasWaveform())
    {
        const auto& waveform = sent["waveform"];
        checkKeys (waveform, { "min", "max" }, "the waveform's keys are not the contract's");
        checkRows (waveform["min"], frame.waveformMin, checkSampleValue, "the waveform's minimum rows are not the frame's");
        checkRows (waveform["max"], frame.waveformMax, checkSampleValue, "the waveform's maximum rows are not the frame's");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return -1;

    if ((data[0] & 1) == 0)
        return fuzzRequest (data + 1, size - 1);

    checkFrameObject (frameFrom (data + 1, size - 1));
    return 0;
}
