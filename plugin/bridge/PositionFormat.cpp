#include "PositionFormat.h"

#include "RenderableNumber.h"

#include <cstdint>

namespace quillbeat
{

juce::String formatPosition (double seconds)
{
    seconds = toRenderableNumber (seconds);

    const auto wholeSeconds = (std::int32_t) seconds;
    const auto millis = (int) ((seconds - wholeSeconds) * 1000.0);

    // Padding counts characters, a minus sign included.
    return juce::String (wholeSeconds / 60)
         + ":" + juce::String (wholeSeconds % 60).paddedLeft ('0', 2)
         + "." + juce::String (millis).paddedLeft ('0', 3);
}

} // namespace quillbeat
