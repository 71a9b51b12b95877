#include "PlayheadMessage.h"

#include "RenderableNumber.h"

#include <cmath>

namespace quillbeat
{

namespace
{
    constexpr double nanosecondsPerMillisecond = 1.0e6;

    juce::var orNull (const std::optional<bool>& value) { return value ? juce::var (*value) : juce::var(); }
    juce::var orNull (const std::optional<int>& value) { return value ? juce::var (*value) : juce::var(); }
    juce::var orNull (const std::optional<std::int64_t>& value) { return value ? juce::var ((juce::int64) *value) : juce::var(); }

    // Host numbers go out the way today's messages send them: NaN as 0,
    // infinities and values past the 32-bit range clamped to its ends.
    juce::var renderable (const std::optional<double>& value)
    {
        return value ? juce::var (toRenderableNumber (*value)) : juce::var();
    }

    double milliseconds (std::int64_t nanoseconds) { return (double) nanoseconds / nanosecondsPerMillisecond; }
} // namespace

juce::var buildPlayheadObject (const PlayheadReading& r, std::int64_t sentTimeNs)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("connected", r.connected);
    object->setProperty ("blockCount", (int) r.blockCount);
    object->setProperty ("playing", orNull (r.playing));
    object->setProperty ("recording", orNull (r.recording));
    object->setProperty ("looping", orNull (r.looping));
    object->setProperty ("bpm", renderable (r.bpm));
    object->setProperty ("timeSigNum", orNull (r.timeSigNum));
    object->setProperty ("timeSigDen", orNull (r.timeSigDen));
    object->setProperty ("positionSecs", renderable (r.positionSecs));
    object->setProperty ("positionSamples", orNull (r.positionSamples));
    object->setProperty ("ppqPosition", renderable (r.ppqPosition));
    object->setProperty ("ppqLastBarStart", renderable (r.ppqLastBarStart));
    object->setProperty ("barCount", orNull (r.barCount));
    object->setProperty ("ppqLoopStart", renderable (r.ppqLoopStart));
    object->setProperty ("ppqLoopEnd", renderable (r.ppqLoopEnd));
    object->setProperty ("sampleRate", r.sampleRate && std::isfinite (*r.sampleRate) && *r.sampleRate > 0.0
                                           ? juce::var (*r.sampleRate)
                                           : juce::var());
    object->setProperty ("hostTimeMs", r.hostTimeNs ? juce::var ((double) *r.hostTimeNs / nanosecondsPerMillisecond) : juce::var());
    object->setProperty ("captureTimeMs", r.captureTimeNs ? juce::var (milliseconds (*r.captureTimeNs)) : juce::var());
    object->setProperty ("sentTimeMs", milliseconds (sentTimeNs));
    return juce::var (object.release());
}

} // namespace quillbeat
