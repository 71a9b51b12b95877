#include "HostOptions.h"

#include <algorithm>

namespace quillbeat::host
{

namespace
{
    bool isPowerOfTwoUpTo32 (int n) { return n == 1 || n == 2 || n == 4 || n == 8 || n == 16 || n == 32; }

    std::optional<double> parseTempo (const juce::String& text)
    {
        if (! text.containsOnly ("0123456789.") || ! text.containsAnyOf ("0123456789")
            || text.indexOfChar ('.') != text.lastIndexOfChar ('.'))
            return {};

        const auto bpm = text.getDoubleValue();
        return bpm > 0.0 && bpm <= 999.0 ? std::optional (bpm) : std::nullopt;
    }

    // Bars from 1 to 9999: four digits at most, so the number cannot overflow.
    std::optional<int> parseBar (const juce::String& text)
    {
        if (text.isEmpty() || text.length() > 4 || ! text.containsOnly ("0123456789"))
            return {};

        const auto bar = text.getIntValue();
        return bar >= 1 ? std::optional (bar) : std::nullopt;
    }
} // namespace

std::optional<std::vector<TempoStep>> parseTempoSteps (const juce::String& text, juce::String& error)
{
    std::vector<TempoStep> steps;

    if (text.trim().isEmpty())
        return steps;

    juce::StringArray items;
    items.addTokens (text, ",", {});

    for (auto item : items)
    {
        item = item.trim();
        const auto bar = parseBar (item.upToFirstOccurrenceOf (":", false, false));
        const auto bpm = parseTempo (item.fromFirstOccurrenceOf (":", false, false));

        // Bar 1 already has the base tempo; a step there would only hide it.
        if (! item.contains (":") || ! bar.has_value() || *bar < 2 || ! bpm.has_value())
        {
            error = "'" + item + "' is not BAR:BPM (a bar from 2 to 9999, a tempo above 0 and up to 999)";
            return {};
        }

        if (std::any_of (steps.begin(), steps.end(), [&] (const TempoStep& s) { return s.bar == *bar; }))
        {
            error = "bar " + juce::String (*bar) + " has two tempos";
            return {};
        }

        if ((int) steps.size() == HostTimeline::maxTempoSteps)
        {
            error = "at most " + juce::String (HostTimeline::maxTempoSteps) + " tempo steps";
            return {};
        }

        steps.push_back ({ *bar, *bpm });
    }

    std::sort (steps.begin(), steps.end(), [] (const TempoStep& a, const TempoStep& b) { return a.bar < b.bar; });
    return steps;
}

std::optional<LoopRange> parseBarRange (const juce::String& text, juce::String& error)
{
    const auto trimmed = text.trim();
    const auto first = parseBar (trimmed.upToFirstOccurrenceOf ("-", false, false));
    const auto last = parseBar (trimmed.fromFirstOccurrenceOf ("-", false, false));

    if (! trimmed.contains ("-") || ! first.has_value() || ! last.has_value() || *first > *last)
    {
        error = "'" + trimmed + "' is not FIRST-LAST (bars from 1 to 9999, the first no later than the last)";
        return {};
    }

    return LoopRange { true, *first, *last };
}

juce::String formatTempoSteps (std::span<const TempoStep> steps)
{
    juce::StringArray items;

    for (const auto& step : steps)
        items.add (juce::String (step.bar) + ":"
                   + juce::String (step.bpm, 3).trimCharactersAtEnd ("0").trimCharactersAtEnd ("."));

    return items.joinIntoString (",");
}

juce::String hostUsage()
{
    return "usage: QuillbeatHost [--plugin PATH] [--gui] [--play] [--record] [--bpm N] [--sig N/D]\n"
           "                     [--tempo-map BAR:BPM[,BAR:BPM...]] [--loop FIRST-LAST] [--start-bar N]\n"
           "                     [--seconds S] [--editor] [--screenshot FILE.png]\n"
           "                     [--save-state FILE] [--load-state FILE]\n"
           "                     [--page-state TEXT | --page-state-file FILE] [--print-page-state]\n"
           "                     [--signal sine:FREQ:DBFS | --signal noise:DBFS | --signal silence | --input FILE.wav]\n"
           "--bpm is the tempo from bar 1; --tempo-map changes it at the start of the bars given\n"
           "(at most 8); --loop repeats bars FIRST to LAST, both included; --start-bar is where the\n"
           "transport starts.\n"
           "--page-state and --page-state-file replace the page state the plug-in starts with (after\n"
           "--load-state); --print-page-state prints it at the end, after the summary line, byte for byte.\n"
           "--signal feeds a sine (FREQ in Hz below 24000, its peak in dBFS from -120 to 0), white noise\n"
           "(its peak in dBFS) or silence; --input a mono or stereo WAV file in a loop, at the host's rate\n"
           "whatever the file's. Without either, the input is a fixed test noise.\n"
           "Without --gui, --play/--record/--seconds/--screenshot/--save-state/--load-state/--print-page-state\n"
           "run headless:\n"
           "the plug-in runs for S seconds, a summary is printed, and the exit code is non-zero on any\n"
           "mismatch between input and output or any failure.";
}

ParsedOptions parseHostOptions (const juce::StringArray& arguments, const juce::File& defaultPlugin)
{
    HostOptions o;
    o.plugin = defaultPlugin;
    bool gui = false, asksForHeadless = false;

    const auto fail = [] (const juce::String& message) { return ParsedOptions { std::nullopt, message }; };

    for (int i = 0; i < arguments.size(); ++i)
    {
        const auto& a = arguments[i];
        const auto hasValue = i + 1 < arguments.size();
        const auto value = hasValue ? arguments[i + 1] : juce::String();

        if (a == "--gui") gui = true;
        else if (a == "--play") { o.play = true; asksForHeadless = true; }
        else if (a == "--record") { o.record = true; asksForHeadless = true; }
        else if (a == "--editor") o.openEditor = true;
        else if (a == "--print-page-state") { o.printPageState = true; asksForHeadless = true; }
        else if (a == "--plugin" || a == "--bpm" || a == "--sig" || a == "--seconds"
                 || a == "--tempo-map" || a == "--loop" || a == "--start-bar"
                 || a == "--screenshot" || a == "--save-state" || a == "--load-state"
                 || a == "--page-state" || a == "--page-state-file" || a == "--signal" || a == "--input")
        {
            if (! hasValue)
                return fail (a + " needs a value");

            ++i;

            if (a == "--page-state" || a == "--page-state-file")
            {
                if (o.pageState.has_value() || o.pageStateFile != juce::File())
                    return fail ("give the page state once, by --page-state or by --page-state-file");
                if (a == "--page-state")
                    o.pageState = value;
                else
                    o.pageStateFile = juce::File::getCurrentWorkingDirectory().getChildFile (value);
            }
            else if (a == "--signal" || a == "--input")
            {
                if (o.signal.kind != SignalChoice::Kind::testNoise)
                    return fail ("give the signal once, by --signal or by --input");

                if (a == "--input")
                    o.signal = { SignalChoice::Kind::file, 0.0, 0.0, juce::File::getCurrentWorkingDirectory().getChildFile (value) };
                else
                {
                    juce::String error;
                    const auto choice = parseSignalChoice (value, error);
                    if (! choice.has_value())
                        return fail ("--signal wants sine:FREQ:DBFS, noise:DBFS or silence: " + error);
                    o.signal = *choice;
                }
            }
            else if (a == "--plugin")
                o.plugin = juce::File::getCurrentWorkingDirectory().getChildFile (value);
            else if (a == "--bpm")
            {
                const auto bpm = parseTempo (value);
                if (! bpm.has_value())
                    return fail ("--bpm wants a tempo between 0 and 999, not '" + value + "'");
                o.bpm = *bpm;
            }
            else if (a == "--tempo-map")
            {
                juce::String error;
                const auto steps = parseTempoSteps (value, error);
                if (! steps.has_value())
                    return fail ("--tempo-map wants BAR:BPM[,BAR:BPM...]: " + error);
                o.tempoSteps = *steps;
            }
            else if (a == "--loop")
            {
                juce::String error;
                const auto loop = parseBarRange (value, error);
                if (! loop.has_value())
                    return fail ("--loop wants a range of bars: " + error);
                o.loop = *loop;
            }
            else if (a == "--start-bar")
            {
                const auto bar = parseBar (value);
                if (! bar.has_value())
                    return fail ("--start-bar wants a bar from 1 to 9999, not '" + value + "'");
                o.startBar = *bar;
            }
            else if (a == "--sig")
            {
                const auto num = value.upToFirstOccurrenceOf ("/", false, false);
                const auto den = value.fromFirstOccurrenceOf ("/", false, false);
                o.timeSigNum = num.getIntValue();
                o.timeSigDen = den.getIntValue();
                if (! value.contains ("/") || ! num.containsOnly ("0123456789") || ! den.containsOnly ("0123456789")
                    || o.timeSigNum < 1 || o.timeSigNum > 64 || ! isPowerOfTwoUpTo32 (o.timeSigDen))
                    return fail ("--sig wants a time signature like 7/8, not '" + value + "'");
            }
            else if (a == "--seconds")
            {
                o.seconds = value.getDoubleValue();
                asksForHeadless = true;
                if (! value.containsOnly ("0123456789.") || o.seconds <= 0.0 || o.seconds > 3600.0)
                    return fail ("--seconds wants a duration between 0 and 3600, not '" + value + "'");
            }
            else
            {
                const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (value);
                asksForHeadless = true;
                if (a == "--screenshot") { o.screenshot = file; o.openEditor = true; }
                else if (a == "--save-state") o.saveState = file;
                else o.loadState = file;
            }
        }
        else if (a == "--help" || a == "-h")
            return fail ({});
        else
            return fail ("unknown argument '" + a + "'");
    }

    o.headless = asksForHeadless && ! gui;
    return { o, {} };
}

} // namespace quillbeat::host
