#include "HostOptions.h"

namespace quillbeat::host
{

namespace
{
    bool isPowerOfTwoUpTo32 (int n) { return n == 1 || n == 2 || n == 4 || n == 8 || n == 16 || n == 32; }
} // namespace

juce::String hostUsage()
{
    return "usage: QuillbeatHost [--plugin PATH] [--gui] [--play] [--record] [--bpm N] [--sig N/D]\n"
           "                     [--seconds S] [--editor] [--screenshot FILE.png]\n"
           "                     [--save-state FILE] [--load-state FILE]\n"
           "Without --gui, --play/--record/--seconds/--screenshot/--save-state/--load-state run headless:\n"
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
        else if (a == "--plugin" || a == "--bpm" || a == "--sig" || a == "--seconds"
                 || a == "--screenshot" || a == "--save-state" || a == "--load-state")
        {
            if (! hasValue)
                return fail (a + " needs a value");

            ++i;

            if (a == "--plugin")
                o.plugin = juce::File::getCurrentWorkingDirectory().getChildFile (value);
            else if (a == "--bpm")
            {
                o.bpm = value.getDoubleValue();
                if (! value.containsOnly ("0123456789.") || o.bpm <= 0.0 || o.bpm > 999.0)
                    return fail ("--bpm wants a tempo between 0 and 999, not '" + value + "'");
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
