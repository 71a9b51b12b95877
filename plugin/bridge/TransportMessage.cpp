#include "TransportMessage.h"

#include "FixedNumber.h"
#include "PositionFormat.h"
#include "RenderableNumber.h"

namespace quillbeat
{

namespace
{
    // The values a page sees for one reading: a disconnected host shows
    // defaults rather than whatever the snapshot happens to hold.
    struct MessageValues
    {
        bool connected, playing, recording;
        double bpm;
        int timeSigNum, timeSigDen;
        double positionSecs;
        juce::String positionFormatted;
        int debugBlockCount;
    };

    MessageValues valuesOf (const TransportReading& r)
    {
        const auto position = r.connected ? toRenderableNumber (r.positionSecs) : 0.0;

        return { r.connected,
                 r.connected && r.playing,
                 r.connected && r.recording,
                 r.connected ? toRenderableNumber (r.bpm) : 0.0,
                 r.connected ? r.timeSigNum : 4,
                 r.connected ? r.timeSigDen : 4,
                 position,
                 formatPosition (position),
                 (int) r.blockCount };
    }

    const char* boolText (bool b) { return b ? "true" : "false"; }
} // namespace

juce::String buildTransportScript (const TransportReading& reading, TransportScriptVariant variant)
{
    const auto v = valuesOf (reading);
    const bool timer = variant == TransportScriptVariant::timer;

    juce::String script;
    script.preallocateBytes (320);
    script << (timer ? "window.__transportData = {connected:" : "window.__transportData={connected:")
           << boolText (v.connected)
           << ",playing:" << boolText (v.playing)
           << ",recording:" << boolText (v.recording)
           << ",bpm:" << toFixed (v.bpm, 1)
           << ",timeSigNum:" << v.timeSigNum
           << ",timeSigDen:" << v.timeSigDen
           << ",positionSecs:" << toFixed (v.positionSecs, 3)
           << ",positionFormatted:'" << v.positionFormatted
           << "',debugBlockCount:" << v.debugBlockCount
           << (timer ? ",debugInfo:'EvalJS'};" : ",debugInfo:'JSONP'};");
    return script;
}

juce::var buildTransportObject (const TransportReading& reading, const juce::String& tag)
{
    const auto v = valuesOf (reading);

    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("connected", v.connected);
    object->setProperty ("playing", v.playing);
    object->setProperty ("recording", v.recording);
    object->setProperty ("bpm", v.bpm);
    object->setProperty ("timeSigNum", v.timeSigNum);
    object->setProperty ("timeSigDen", v.timeSigDen);
    object->setProperty ("positionSecs", v.positionSecs);
    object->setProperty ("positionFormatted", v.positionFormatted);
    object->setProperty ("debugBlockCount", v.debugBlockCount);

    if (tag.isNotEmpty())
        object->setProperty ("debugInfo", tag);

    return juce::var (object.release());
}

} // namespace quillbeat
