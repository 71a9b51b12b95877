#include "PageScript.h"

#include <bridge/FixedNumber.h>
#include <bridge/TransportMessage.h>

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <locale>
#include <string>

namespace
{
using quillbeat::buildTransportObject;
using quillbeat::buildTransportScript;
using quillbeat::TransportReading;
using Variant = quillbeat::TransportScriptVariant;

const TransportReading playing128 { true, 40, true, false, 128.0, 4, 4, 12.5 };

TEST (TransportMessage, DisconnectedReadingShowsDefaultsWhateverTheSnapshotHolds)
{
    // A disconnected snapshot may still hold leftovers; the page must not see them.
    const TransportReading reading { false, 12, true, true, 99.0, 7, 8, 42.0 };

    EXPECT_EQ (buildTransportScript (reading, Variant::timer),
               "window.__transportData = {connected:false,playing:false,recording:false,bpm:0.0,timeSigNum:4,timeSigDen:4,"
               "positionSecs:0.000,positionFormatted:'0:00.000',debugBlockCount:12,debugInfo:'EvalJS'};");
}

TEST (TransportMessage, ConnectedReadingInBothScriptVariants)
{
    const juce::String body = "connected:true,playing:true,recording:false,bpm:128.0,timeSigNum:4,timeSigDen:4,"
                              "positionSecs:12.500,positionFormatted:'0:12.500',debugBlockCount:40";

    EXPECT_EQ (buildTransportScript (playing128, Variant::timer),
               "window.__transportData = {" + body + ",debugInfo:'EvalJS'};");
    EXPECT_EQ (buildTransportScript (playing128, Variant::resource),
               "window.__transportData={" + body + ",debugInfo:'JSONP'};");
}

TEST (TransportMessage, ObjectHasTheKeysInOrderWithTheirTypes)
{
    const auto tagged = buildTransportObject (playing128, "Event");
    const auto untagged = buildTransportObject (playing128);

    const auto& props = tagged.getDynamicObject()->getProperties();
    const char* keys[] = { "connected", "playing", "recording", "bpm", "timeSigNum", "timeSigDen",
                           "positionSecs", "positionFormatted", "debugBlockCount", "debugInfo" };
    ASSERT_EQ (props.size(), (int) std::size (keys));

    for (int i = 0; i < props.size(); ++i)
        EXPECT_EQ (props.getName (i).toString(), keys[i]);

    EXPECT_TRUE (tagged["connected"].isBool());
    EXPECT_TRUE (tagged["playing"].isBool());
    EXPECT_TRUE (tagged["recording"].isBool());
    EXPECT_TRUE (tagged["bpm"].isDouble());
    EXPECT_TRUE (tagged["timeSigNum"].isInt());
    EXPECT_TRUE (tagged["timeSigDen"].isInt());
    EXPECT_TRUE (tagged["positionSecs"].isDouble());
    EXPECT_TRUE (tagged["positionFormatted"].isString());
    EXPECT_TRUE (tagged["debugBlockCount"].isInt());
    EXPECT_EQ (tagged["debugInfo"].toString(), "Event");

    EXPECT_EQ (juce::JSON::toString (untagged, true),
               R"({"connected": true, "playing": true, "recording": false, "bpm": 128.0, "timeSigNum": 4, "timeSigDen": 4, )"
               R"("positionSecs": 12.5, "positionFormatted": "0:12.500", "debugBlockCount": 40})");
    EXPECT_FALSE (untagged.hasProperty ("debugInfo"));
}

TEST (TransportMessage, ScriptRoundsTempoToOneDecimalWhileTheObjectKeepsIt)
{
    TransportReading reading = playing128;
    reading.bpm = 133.333;

    EXPECT_TRUE (buildTransportScript (reading, Variant::timer).contains (",bpm:133.3,"));
    EXPECT_EQ ((double) buildTransportObject (reading)["bpm"], 133.333);
}

// Switches the process to a comma-decimal locale for a scope: the C locale,
// and optionally the global C++ locale that streams pick up.
class ScopedCommaLocale
{
public:
    explicit ScopedCommaLocale (bool alsoCppGlobal)
        : previousC (std::setlocale (LC_ALL, nullptr))
    {
        ok = std::setlocale (LC_ALL, "de_DE.UTF-8") != nullptr;

        if (ok && alsoCppGlobal)
            std::locale::global (std::locale ("de_DE.UTF-8"));
    }

    ~ScopedCommaLocale()
    {
        std::locale::global (previousCpp);
        std::setlocale (LC_ALL, previousC.c_str());
    }

    bool ok = false;

private:
    std::string previousC;
    std::locale previousCpp;
};

TEST (TransportMessage, ScriptDoesNotDependOnTheUserLocale)
{
    TransportReading reading = playing128;
    reading.bpm = 133.333;
    reading.positionSecs = 1234.5678;

    const auto script = buildTransportScript (reading, Variant::timer);
    EXPECT_TRUE (script.contains (",bpm:133.3,") && script.contains ("positionSecs:1234.568,")) << script;

    for (const bool cppGlobalToo : { false, true })
    {
        const ScopedCommaLocale comma (cppGlobalToo);
        ASSERT_TRUE (comma.ok) << "the de_DE.UTF-8 locale is missing; scripts/bootstrap.sh creates it";
        EXPECT_EQ (buildTransportScript (reading, Variant::timer), script) << "C++ global locale too: " << cppGlobalToo;
    }
}

TEST (TransportMessage, ObjectDoesNotDependOnTheUserLocale)
{
    TransportReading reading = playing128;
    reading.bpm = 133.333;
    reading.positionSecs = 1234.5678;
    const auto json = juce::JSON::toString (buildTransportObject (reading, "Event"), true);
    EXPECT_TRUE (json.contains ("\"positionSecs\": 1234.5678")) << json;

    // The framework writes the event's JSON; with our patch to it, a host's
    // global C++ locale does not reach the numbers either.
    for (const bool cppGlobalToo : { false, true })
    {
        const ScopedCommaLocale comma (cppGlobalToo);
        ASSERT_TRUE (comma.ok) << "the de_DE.UTF-8 locale is missing; scripts/bootstrap.sh creates it";
        EXPECT_EQ (juce::JSON::toString (buildTransportObject (reading, "Event"), true), json) << "C++ global locale too: " << cppGlobalToo;
    }
}

TEST (TransportMessage, FixedNotationMatchesTheFrameworkInTheClassicLocale)
{
    const double values[] = { 0.0, -0.0, 120.0, 133.333, 0.05, 0.25, 2.5, 0.0625, 59.9996, 0.9996, -1.5,
                              1.0005, 2.0005, 123456789.123456, -2147483648.0, 2147483647.0, 1.0e-300 };

    for (const auto value : values)
        for (const int decimals : { 1, 3 })
            EXPECT_EQ (quillbeat::toFixed (value, decimals), juce::String (value, decimals)) << value << " to " << decimals;
}

TEST (TransportMessage, EveryHostValueRendersAValidScriptAndObject)
{
    constexpr auto inf = std::numeric_limits<double>::infinity();
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto lowest = (double) std::numeric_limits<std::int32_t>::min();
    constexpr auto highest = (double) std::numeric_limits<std::int32_t>::max();

    // What the page receives for tempo and position, whatever the host sends.
    const struct
    {
        double bpm, seconds;
        double pageBpm, pageSeconds;
    } cases[] = {
        { 128.0, 12.5, 128.0, 12.5 },
        { nan, nan, 0.0, 0.0 },
        { inf, inf, highest, highest },
        { -inf, -inf, lowest, lowest },
        { 1.0e300, 1.0e300, highest, highest },
        { -1.0e300, 3.0e9, lowest, highest },
        { 1.0e-300, -1.0e-300, 1.0e-300, -1.0e-300 },
        { std::numeric_limits<double>::denorm_min(), -5.0e9, std::numeric_limits<double>::denorm_min(), lowest },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.bpm) + " bpm at " + juce::String (c.seconds) + " s");
        const TransportReading reading { true, std::numeric_limits<std::int32_t>::min(), true, true, c.bpm, -3, 0, c.seconds };

        for (const auto variant : { Variant::timer, Variant::resource })
        {
            const auto assigned = transportAssignedBy (buildTransportScript (reading, variant));
            ASSERT_TRUE (assigned.has_value()) << buildTransportScript (reading, variant);
            EXPECT_NEAR ((double) (*assigned)["bpm"], c.pageBpm, 0.05);
            EXPECT_NEAR ((double) (*assigned)["positionSecs"], c.pageSeconds, 0.0005);
            EXPECT_EQ ((int) (*assigned)["debugBlockCount"], std::numeric_limits<std::int32_t>::min());
        }

        const auto object = buildTransportObject (reading, "Event");
        EXPECT_EQ ((double) object["bpm"], c.pageBpm);
        EXPECT_EQ ((double) object["positionSecs"], c.pageSeconds);

        juce::var reparsed;
        ASSERT_TRUE (juce::JSON::parse (juce::JSON::toString (object), reparsed).wasOk()) << juce::JSON::toString (object);
        EXPECT_EQ (reparsed["positionFormatted"].toString(), object["positionFormatted"].toString());
    }
}

TEST (TransportMessage, ScriptAssignsTheSameValuesAsTheObject)
{
    for (const auto& reading : { playing128, TransportReading { true, 7, false, true, 133.333, 7, 8, -1.5 } })
    {
        const auto assigned = transportAssignedBy (buildTransportScript (reading, Variant::resource));
        ASSERT_TRUE (assigned.has_value());
        const auto object = buildTransportObject (reading, "JSONP");

        for (const auto& key : { "connected", "playing", "recording", "timeSigNum", "timeSigDen", "positionFormatted", "debugBlockCount", "debugInfo" })
            EXPECT_EQ ((*assigned)[key].toString(), object[key].toString()) << key;
    }
}
} // namespace
