#pragma once

#include "HostTimeline.h"
#include "SignalSource.h"

#include <juce_core/juce_core.h>

#include <optional>
#include <vector>

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
    std::vector<TempoStep> tempoSteps;  // from --tempo-map, sorted by bar
    LoopRange loop;                     // from --loop
    int startBar = 1;                   // where the run starts
    double seconds = 3.0;               // how long a headless run lasts
    bool openEditor = false;            // show the plug-in's editor (headless runs too)
    juce::File screenshot;              // headless: write the window here at the end
    juce::File saveState, loadState;    // headless: state to write after / read before the run
    std::optional<juce::String> pageState;  // --page-state: start with this page state
    juce::File pageStateFile;           // --page-state-file: start with this file's text as page state
    bool printPageState = false;        // headless: print the page state after the summary
    SignalChoice signal;                  // --signal or --input: what the plug-in is fed
};

struct ParsedOptions
{
    std::optional<HostOptions> options;
    juce::String error;                 // set when the arguments make no sense
};

// Parses e.g. "--play --bpm 128 --sig 7/8 --seconds 3". Any of --play,
// --record, --seconds, --screenshot, --save-state, --load-state or
// --print-page-state without --gui makes the run headless.
ParsedOptions parseHostOptions (const juce::StringArray& arguments, const juce::File& defaultPlugin);

juce::String hostUsage();

// The timeline's text forms, shared by the command line and the window.
// Tempo steps as "9:96,17:140.5" (nothing for an empty text); a bar range as
// "9-10". Nothing, with the reason in `error`, for text that makes no sense.
std::optional<std::vector<TempoStep>> parseTempoSteps (const juce::String& text, juce::String& error);
std::optional<LoopRange> parseBarRange (const juce::String& text, juce::String& error);
juce::String formatTempoSteps (std::span<const TempoStep> steps);

} // namespace quillbeat::host
