#pragma once

#include <analysis/AnalysisSettings.h>

#include <juce_core/juce_core.h>

#include <optional>

namespace quillbeat
{

// The names the page asks for and receives analysis of the audio on.
inline constexpr const char* setAnalysisFunctionName = "setAnalysis";
inline constexpr const char* analysisFrameEventName = "analysisFrame";

// What a "setAnalysis" call asks for: new settings, a stop, or a refusal
// that changes nothing.
struct AnalysisRequest
{
    std::optional<AnalysisSettings> settings;   // nothing: stop (unless refused)
    juce::String error;                          // set: refused

    bool isRefused() const noexcept { return error.isNotEmpty(); }
};

// Reads the native function's arguments: one object of settings (missing keys
// take their defaults), or null to stop; an object asking for none of levels,
// spectrum and waveform stops too. An unknown key, a value of the wrong type
// or out of range, or another number of arguments is refused with the reason.
AnalysisRequest readAnalysisRequest (const juce::Array<juce::var>& arguments);

} // namespace quillbeat
