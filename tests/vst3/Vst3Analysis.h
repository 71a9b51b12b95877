#pragma once

// What a page reports of the analysis frames it receives, read back the only
// way a VST3 host can: from the page state inside the component's saved state.
// The page stores {"answer": <setAnalysis answer>, "frame": <newest frame>}
// with setPageState (JSON.stringify (...)).

#include <public.sdk/source/vst/moduleinfo/jsoncxx.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vst3host
{
struct ReportedLevels
{
    double peakDb = 0, rmsDb = 0;
    bool clipped = false;
    std::int64_t nonFinite = -1;
};

struct ReportedFrame
{
    std::int64_t blockCount = -1;
    std::optional<std::int64_t> positionSamples;
    double sampleRate = 0;
    std::int64_t samples = -1, droppedSamples = -1;
    int channels = 0;
    std::vector<ReportedLevels> levels;

    int fftSize = 0, bandsPerOctave = 0;
    double lowHz = 0;
    std::vector<std::vector<double>> bandDb;
};

struct PageReport
{
    std::optional<bool> answerOk;
    std::optional<ReportedFrame> frame;
};

namespace detail
{
    inline std::optional<JSON::Value> member (const JSON::Value& value, std::string_view name)
    {
        if (const auto object = value.asObject())
            for (const auto& element : *object)
                if (element.name().text() == name)
                    return element.value();

        return std::nullopt;
    }

    // A JSON number as a double; anything else (JSON.stringify writes NaN and
    // infinities as null) as NaN, so a check for finite figures sees it.
    inline double numberOr (const std::optional<JSON::Value>& value)
    {
        if (value)
            if (const auto number = value->asNumber())
                if (const auto d = number->getDouble())
                    return *d;

        return std::numeric_limits<double>::quiet_NaN();
    }

    inline std::int64_t integerOr (const std::optional<JSON::Value>& value, std::int64_t otherwise = -1)
    {
        if (value)
            if (const auto number = value->asNumber())
                if (const auto i = number->getInteger())
                    return *i;

        return otherwise;
    }

    inline bool booleanOr (const std::optional<JSON::Value>& value, bool otherwise)
    {
        if (value)
            if (const auto b = value->asBoolean())
                return *b;

        return otherwise;
    }

    inline ReportedFrame frameFrom (const JSON::Value& frame)
    {
        ReportedFrame result;
        result.blockCount = integerOr (member (frame, "blockCount"));
        if (const auto position = member (frame, "positionSamples"); position && position->asNumber())
            result.positionSamples = integerOr (position);
        result.sampleRate = numberOr (member (frame, "sampleRate"));
        result.samples = integerOr (member (frame, "samples"));
        result.droppedSamples = integerOr (member (frame, "droppedSamples"));
        result.channels = (int) integerOr (member (frame, "channels"), 0);

        if (const auto levels = member (frame, "levels"))
            if (const auto channels = levels->asArray())
                for (const auto& channel : *channels)
                    result.levels.push_back ({ numberOr (member (channel.value(), "peakDb")),
                                               numberOr (member (channel.value(), "rmsDb")),
                                               booleanOr (member (channel.value(), "clipped"), false),
                                               integerOr (member (channel.value(), "nonFinite")) });

        if (const auto spectrum = member (frame, "spectrum"); spectrum && spectrum->asObject())
        {
            result.fftSize = (int) integerOr (member (*spectrum, "fftSize"), 0);
            result.bandsPerOctave = (int) integerOr (member (*spectrum, "bandsPerOctave"), 0);
            result.lowHz = numberOr (member (*spectrum, "lowHz"));

            if (const auto rows = member (*spectrum, "db"))
                if (const auto rowArray = rows->asArray())
                    for (const auto& row : *rowArray)
                    {
                        auto& values = result.bandDb.emplace_back();
                        if (const auto bands = row.value().asArray())
                            for (const auto& band : *bands)
                                values.push_back (numberOr (band.value()));
                    }
        }

        return result;
    }
} // namespace detail

// The page's report in a component state: the plug-in's JSON comes first and
// ends at the first NUL, where the framework's private trailer begins (JSON
// text never holds a raw NUL). Nothing when the page has not reported yet.
inline std::optional<PageReport> pageReportIn (const std::string& savedState)
{
    const auto pluginJson = std::string_view (savedState).substr (0, savedState.find ('\0'));
    const auto state = JSON::Document::parse (pluginJson);
    if (! std::holds_alternative<JSON::Document> (state))
        return std::nullopt;

    const auto webState = detail::member (std::get<JSON::Document> (state), "webState");
    const auto text = webState ? webState->asString() : std::nullopt;
    if (! text || text->text().empty())
        return std::nullopt;

    const auto page = JSON::Document::parse (text->text());
    if (! std::holds_alternative<JSON::Document> (page))
        return std::nullopt;

    const auto& report = std::get<JSON::Document> (page);
    PageReport result;

    if (const auto answer = detail::member (report, "answer"); answer && answer->asObject())
        result.answerOk = detail::booleanOr (detail::member (*answer, "ok"), false);

    if (const auto frame = detail::member (report, "frame"); frame && frame->asObject())
        result.frame = detail::frameFrom (*frame);

    return result;
}

} // namespace vst3host
