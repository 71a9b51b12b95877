#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace quillbeat::host
{

// What the stand-in host was asked to do on its command line.
struct HostOptions
{
    juce::File plugin;                  // the VST3 bundle to load
    bool headless = false;              // run, print a summary and exit
    bool play = false, record = false;
    double bpm = 120.0;
    int timeSigNum = 4, timeSigDen = 4;
    double seconds = 3.0;               // how long a headless run lasts
    bool openEditor = false;            // show the plug-in's editor (headless runs too)
    juce::File screenshot;              // headless: write the window here at the end
    juce::File saveState, loadState;    // headless: state to write after / read before the run
};

struct ParsedOptions
{
    std::optional<HostOptions> options;
    juce::String error;                 // set when the arguments make no sense
};

// Parses e.g. "--play --bpm 128 --sig 7/8 --seconds 3". Any of --play,
// --record, --seconds, --screenshot, --save-state or --load-state without
// --gui makes the run headless.
ParsedOptions parseHostOptions (const juce::StringArray& arguments, const juce::File& defaultPlugin);

juce::String hostUsage();

} // namespace quillbeat::host
