#pragma once

#include <processor/TransportSnapshot.h>

#include <juce_core/juce_core.h>

namespace quillbeat
{

// The two scripts that assign a reading to window.__transportData: the one the
// editor runs on every tick, and the one served as transport.js.
enum class TransportScriptVariant
{
    timer,
    resource
};

// One reading as a script that assigns a JavaScript object literal to
// window.__transportData. A disconnected reading shows fixed defaults.
juce::String buildTransportScript (const TransportReading& reading, TransportScriptVariant variant);

// The same reading as an object for an event or a native-function result.
// "debugInfo" is present only when a tag is given.
juce::var buildTransportObject (const TransportReading& reading, const juce::String& tag = {});

} // namespace quillbeat
