#include "AudioAnalyser.h"

#include "Levels.h"
#include "WaveformSlices.h"

#include <algorithm>
#include <cmath>

namespace quillbeat
{

namespace
{
    int nearestAllowed (int value, std::initializer_list<int> allowed)
    {
        return *std::min_element (allowed.begin(), allowed.end(),
                                  [value] (int a, int b) { return std::abs (a - value) < std::abs (b - value); });
    }

    AnalysisSettings withinLimits (AnalysisSettings s)
    {
        s.framesPerSecond = std::clamp (s.framesPerSecond, AnalysisSettings::minFramesPerSecond, AnalysisSettings::maxFramesPerSecond);
        s.fftSize = nearestAllowed (s.fftSize, { 1024, 2048, 4096 });
        s.bandsPerOctave = nearestAllowed (s.bandsPerOctave, { 1, 2, 3, 6, 12, 24 });
        s.waveformSlices = std::clamp (s.waveformSlices, 1, AnalysisSettings::maxWaveformSlices);
        return s;
    }
} // namespace

AudioAnalyser::AudioAnalyser (AudioTap& tapToRead) : tap (tapToRead)
{
    // Room for a whole ring: a reader that fell far behind still reads in one go.
    for (auto& channel : scratch)
        channel.resize ((size_t) AudioTap::capacity);

    fftInput.resize ((size_t) AnalysisSettings::maxFftSize);
    setSettings ({});
}

void AudioAnalyser::setSettings (const AnalysisSettings& newSettings)
{
    const auto s = withinLimits (newSettings);

    if (spectrum != nullptr && s.bandsPerOctave != settings.bandsPerOctave)
        spectrum.reset();

    if (spectrum != nullptr && s.fftSize != spectrum->fftSize())
        spectrum.reset();

    settings = s;
}

void AudioAnalyser::restartFrom (const AudioTap::Stamp& stamp)
{
    generation = stamp.generation;
    nextIndex = stamp.generationStart;
    dropped = 0;
}

std::optional<AnalysisFrame> AudioAnalyser::nextFrame()
{
    AnalysisFrame frame;

    if (! nextFrame (frame))
        return std::nullopt;

    return frame;
}

bool AudioAnalyser::nextFrame (AnalysisFrame& frame)
{
    const auto stamp = tap.readStamp();

    // No block yet since the tap (re)started: the stamp is from before.
    if (stamp.channels == 0 || stamp.generation != tap.generation())
        return false;

    if (generation != stamp.generation)
        restartFrom (stamp);

    const auto end = stamp.endIndex;

    if (end <= nextIndex)
        return false;

    const auto channels = std::clamp ((int) stamp.channels, 1, AudioTap::maxChannels);
    const auto fftSize = settings.spectrum ? settings.fftSize : 0;

    // The frame's own samples, and before them as many older ones as the
    // spectrum's window reaches back, never past the generation's start.
    const auto windowStart = end - std::min<std::uint64_t> (end - stamp.generationStart, (std::uint64_t) fftSize);
    const auto from = std::max (std::min (nextIndex, windowStart),
                                end > (std::uint64_t) AudioTap::capacity ? end - (std::uint64_t) AudioTap::capacity : 0);

    float* destination[AudioTap::maxChannels] = { scratch[0].data(), scratch[1].data() };
    const auto whole = tap.read (from, end, destination, channels);

    // What the ring overwrote before (or while) it was read is lost; the
    // frame covers the rest.
    const auto frameStart = std::max (nextIndex, whole);
    dropped += (std::int64_t) (frameStart - nextIndex);
    nextIndex = end;

    const auto count = (std::int64_t) (end - frameStart);
    const auto offset = (size_t) (frameStart - from);

    // Everything since the last frame was lost: nothing to show but the count,
    // which the next frame carries.
    if (count == 0)
        return false;

    frame.blockCount = stamp.blockCount;
    frame.positionSamples = stamp.hasPositionSamples ? std::optional<std::int64_t> (stamp.positionSamples) : std::nullopt;
    frame.ppqPosition = stamp.hasPpqPosition ? std::optional<double> (stamp.ppqPosition) : std::nullopt;
    frame.captureTimeNs = stamp.captureTimeNs;
    frame.sampleRate = stamp.sampleRate;
    frame.samples = count;
    frame.droppedSamples = dropped;
    frame.channels = channels;

    frame.levels.clear();

    if (settings.levels)
        for (int ch = 0; ch < channels; ++ch)
            frame.levels.push_back (measureLevels (scratch[ch].data() + offset, count));

    frame.lowHz = BandSpectrum::lowHz;
    frame.bandsPerOctave = settings.spectrum ? settings.bandsPerOctave : 0;
    frame.fftSize = fftSize;

    if (settings.spectrum && std::isfinite (stamp.sampleRate) && stamp.sampleRate > 0.0)
    {
        if (spectrum == nullptr || ! juce::exactlyEqual (spectrumSampleRate, stamp.sampleRate))
        {
            spectrum = std::make_unique<BandSpectrum> (settings.fftSize, settings.bandsPerOctave, stamp.sampleRate);
            spectrumSampleRate = stamp.sampleRate;
        }

        // The newest fftSize samples, as silence where the generation had not
        // started yet or the ring had lost them.
        const auto rows = settings.spectrumPerChannel ? channels : 1;
        frame.bandDb.resize ((size_t) rows);

        for (int row = 0; row < rows; ++row)
        {
            for (int n = 0; n < fftSize; ++n)
            {
                const auto index = end - (std::uint64_t) (fftSize - n);
                const auto inWindow = end >= (std::uint64_t) (fftSize - n) && index >= windowStart && index >= whole;
                float value = 0.0f;

                if (inWindow)
                {
                    const auto at = (size_t) (index - from);

                    if (settings.spectrumPerChannel || channels == 1)
                        value = scratch[row][at];
                    else
                        value = 0.5f * (scratch[0][at] + scratch[1][at]);
                }

                fftInput[(size_t) n] = value;
            }

            frame.bandDb[(size_t) row].resize ((size_t) spectrum->bandCount());
            spectrum->measure (fftInput.data(), frame.bandDb[(size_t) row].data());
        }
    }
    else
    {
        frame.bandDb.clear();
    }

    if (settings.waveform)
    {
        frame.waveformMin.resize ((size_t) channels);
        frame.waveformMax.resize ((size_t) channels);

        for (int ch = 0; ch < channels; ++ch)
        {
            frame.waveformMin[(size_t) ch].resize ((size_t) settings.waveformSlices);
            frame.waveformMax[(size_t) ch].resize ((size_t) settings.waveformSlices);
            measureWaveform (scratch[ch].data() + offset, count, settings.waveformSlices,
                             frame.waveformMin[(size_t) ch].data(), frame.waveformMax[(size_t) ch].data());
        }
    }
    else
    {
        frame.waveformMin.clear();
        frame.waveformMax.clear();
    }

    return true;
}

} // namespace quillbeat
