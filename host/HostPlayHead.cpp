#include "HostPlayHead.h"

namespace quillbeat::host
{

void HostPlayHead::setTimeSignature (int numerator, int denominator) noexcept
{
    timeSig.store ((numerator << 8) | (denominator & 0xff));
}

juce::Optional<juce::AudioPlayHead::PositionInfo> HostPlayHead::getPosition() const
{
    const auto sig = timeSig.load();
    const auto samples = positionSamples.load();
    const auto rate = currentSampleRate.load();
    const auto tempo = bpm.load();
    const auto seconds = (double) samples / rate;
    const auto quarterNotes = seconds * tempo / 60.0;
    const TimeSignature signature { sig >> 8, sig & 0xff };
    const auto quarterNotesPerBar = signature.numerator * 4.0 / signature.denominator;

    PositionInfo info;
    info.setIsPlaying (playing.load());
    info.setIsRecording (recording.load());
    info.setBpm (tempo);
    info.setTimeSignature (signature);
    info.setTimeInSamples (samples);
    info.setTimeInSeconds (seconds);
    info.setPpqPosition (quarterNotes);
    info.setPpqPositionOfLastBarStart (std::floor (quarterNotes / quarterNotesPerBar) * quarterNotesPerBar);
    return info;
}

void HostPlayHead::advance (int numSamples, double sampleRate) noexcept
{
    currentSampleRate.store (sampleRate);

    if (zeroRequested.exchange (false))
        positionSamples.store (0);
    else if (playing.load())
        positionSamples.fetch_add (numSamples);
}

} // namespace quillbeat::host
