#include "AllocationCounter.h"
#include "PlayingProcessor.h"

#include <analysis/AudioAnalyser.h>
#include <analysis/BandSpectrum.h>
#include <analysis/WaveformSlices.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace
{
using quillbeat::AnalysisFrame;
using quillbeat::AnalysisSettings;
using quillbeat::AudioAnalyser;
using Signal = PlayingProcessor::Signal;

constexpr double toneHz = 997.0;
const double minus6dB = std::pow (10.0, -6.0 / 20.0);

Signal sineAt (double amplitude, double rate)
{
    return [=] (int, std::int64_t n) { return (float) (amplitude * std::sin (juce::MathConstants<double>::twoPi * toneHz * (double) n / rate)); };
}

Signal squareAt (double rate)
{
    return [=] (int, std::int64_t n) { return std::sin (juce::MathConstants<double>::twoPi * toneHz * (double) n / rate) < 0.0 ? -1.0f : 1.0f; };
}

// The -6 dBFS sine with a NaN, an infinity and a minus infinity in every
// 1000 samples of each channel.
Signal sineWithNonFinite (double rate)
{
    return [sine = sineAt (minus6dB, rate)] (int ch, std::int64_t n)
    {
        switch (n % 1000)
        {
            case 10: return std::numeric_limits<float>::quiet_NaN();
            case 400: return std::numeric_limits<float>::infinity();
            case 800: return -std::numeric_limits<float>::infinity();
            default: return sine (ch, n);
        }
    };
}

int bandHolding (double hz, int bandsPerOctave) { return (int) std::floor (bandsPerOctave * std::log2 (hz / 20.0)); }

double bandCentreHz (int band, int bandsPerOctave) { return 20.0 * std::pow (2.0, (band + 0.5) / bandsPerOctave); }

bool allFinite (const std::vector<float>& row)
{
    return std::all_of (row.begin(), row.end(), [] (float v) { return std::isfinite (v); });
}

struct SignalCase
{
    const char* label;
    Signal (*makeSignal) (double rate);
    int channels;
    double rate;
    int blockSize;
    double peakDb, rmsDb;
    bool clipped;
    bool nonFinite;   // 3 in every 1000 samples
    bool pureTone;    // the spectrum is the 997 Hz tone alone
};

TEST (AudioAnalysis, KnownSignalsReadTheirKnownFigures)
{
    constexpr auto floorDb = AnalysisFrame::floorDb;
    const auto sine = [] (double rate) { return sineAt (minus6dB, rate); };
    const auto silence = [] (double) -> Signal { return [] (int, std::int64_t) { return 0.0f; }; };

    const SignalCase cases[] = {
        { "sine, mono, 44.1 kHz", +sine, 1, 44100.0, 441, -6.0, -9.03, false, false, true },
        { "sine, stereo, 48 kHz", +sine, 2, 48000.0, 512, -6.0, -9.03, false, false, true },
        { "sine, stereo, 96 kHz", +sine, 2, 96000.0, 1024, -6.0, -9.03, false, false, true },
        { "silence, mono, 48 kHz", +silence, 1, 48000.0, 64, floorDb, floorDb, false, false, false },
        { "silence, stereo, 96 kHz", +silence, 2, 96000.0, 4096, floorDb, floorDb, false, false, false },
        { "full-scale square, stereo, 48 kHz", squareAt, 2, 48000.0, 256, 0.0, 0.0, true, false, false },
        { "full-scale square, mono, 44.1 kHz", squareAt, 1, 44100.0, 333, 0.0, 0.0, true, false, false },
        { "sine with NaN and infinities, stereo, 48 kHz", sineWithNonFinite, 2, 48000.0, 480, -6.0, -9.03, false, true, false },
        { "sine with NaN and infinities, mono, 96 kHz", sineWithNonFinite, 1, 96000.0, 100, -6.0, -9.03, false, true, false },
    };

    for (const auto& c : cases)
    {
        for (const auto perChannel : { false, true })
        {
            SCOPED_TRACE (std::string (c.label) + (perChannel ? ", spectrum per channel" : ", spectrum of the mean"));

            PlayingProcessor p (c.rate, c.blockSize, c.channels);
            p.processor.startAnalysis();
            AudioAnalyser analyser (p.processor.getAudioTap());
            AnalysisSettings settings;
            settings.spectrumPerChannel = perChannel;
            analyser.setSettings (settings);

            const auto blocks = 12000 / c.blockSize + 1;
            p.play (blocks, c.blockSize, c.makeSignal (c.rate));
            const auto frame = analyser.nextFrame();
            ASSERT_TRUE (frame.has_value());

            EXPECT_EQ (frame->channels, c.channels);
            EXPECT_EQ (frame->samples, (std::int64_t) blocks * c.blockSize);
            EXPECT_EQ (frame->sampleRate, c.rate);
            ASSERT_EQ (frame->levels.size(), (size_t) c.channels);

            for (const auto& level : frame->levels)
            {
                EXPECT_NEAR (level.peakDb, c.peakDb, 0.05);
                EXPECT_NEAR (level.rmsDb, c.rmsDb, 0.05);
                EXPECT_EQ (level.clipped, c.clipped);
                EXPECT_EQ (level.nonFinite, c.nonFinite ? 3 * (frame->samples / 1000) + (frame->samples % 1000 > 10) + (frame->samples % 1000 > 400) + (frame->samples % 1000 > 800) : 0);
            }

            const auto silent = juce::exactlyEqual (c.peakDb, floorDb);
            ASSERT_EQ (frame->bandDb.size(), perChannel ? (size_t) c.channels : 1u);
            EXPECT_EQ (frame->fftSize, 2048);
            EXPECT_EQ (frame->bandsPerOctave, 6);

            for (const auto& row : frame->bandDb)
            {
                ASSERT_EQ ((int) row.size(), quillbeat::BandSpectrum::bandCountFor (6, c.rate));
                EXPECT_TRUE (allFinite (row));

                const auto loudest = (int) (std::max_element (row.begin(), row.end()) - row.begin());

                if (silent)
                {
                    EXPECT_TRUE (std::all_of (row.begin(), row.end(), [] (float v) { return juce::exactlyEqual (v, (float) AnalysisFrame::floorDb); }));
                }
                else
                {
                    EXPECT_EQ (loudest, bandHolding (toneHz, 6));
                }

                if (c.pureTone)
                {
                    EXPECT_NEAR (row[(size_t) loudest], -6.0, 0.5);

                    for (int band = 0; band < (int) row.size(); ++band)
                    {
                        if (std::abs (std::log2 (bandCentreHz (band, 6) / toneHz)) > 1.0)
                            EXPECT_LT (row[(size_t) band], row[(size_t) loudest] - 40.0f) << "band " << band;
                    }
                }
            }

            ASSERT_EQ (frame->waveformMin.size(), (size_t) c.channels);
            ASSERT_EQ (frame->waveformMax.size(), (size_t) c.channels);

            for (int ch = 0; ch < c.channels; ++ch)
            {
                const auto& lows = frame->waveformMin[(size_t) ch];
                const auto& highs = frame->waveformMax[(size_t) ch];
                ASSERT_EQ (lows.size(), 256u);
                EXPECT_TRUE (allFinite (lows) && allFinite (highs));

                const auto peak = silent ? 0.0 : std::pow (10.0, c.peakDb / 20.0);
                EXPECT_NEAR (*std::max_element (highs.begin(), highs.end()), peak, 0.01);
                EXPECT_NEAR (*std::min_element (lows.begin(), lows.end()), -peak, 0.01);
            }
        }
    }
}

// Whatever block size the host chooses, a steady signal reads the same from
// frames taken at the page's rate.
TEST (AudioAnalysis, BlockSizeDoesNotChangeTheFigures)
{
    constexpr double rate = 48000.0;
    const auto samplesPerFrame = (int) rate / 30;

    struct Figures
    {
        std::vector<double> peakDb, rmsDb;
        int loudestBand;
        float loudestDb;
    };

    const auto measure = [&] (int blockSize)
    {
        PlayingProcessor p (rate, blockSize);
        p.processor.startAnalysis();
        AudioAnalyser analyser (p.processor.getAudioTap());

        // Frames at 30 per second of audio, the last after half a second.
        std::optional<AnalysisFrame> last;
        std::int64_t sinceFrame = 0;

        while (p.played < 24000)
        {
            p.play (1, blockSize, sineAt (minus6dB, rate));

            if ((sinceFrame += blockSize) >= samplesPerFrame)
            {
                last = analyser.nextFrame();
                sinceFrame = 0;
            }
        }

        Figures f {};
        EXPECT_TRUE (last.has_value()) << blockSize;

        if (last)
        {
            for (const auto& level : last->levels)
            {
                f.peakDb.push_back (level.peakDb);
                f.rmsDb.push_back (level.rmsDb);
            }

            const auto& row = last->bandDb.at (0);
            const auto loudest = std::max_element (row.begin(), row.end());
            f.loudestBand = (int) (loudest - row.begin());
            f.loudestDb = *loudest;
        }

        return f;
    };

    const auto reference = measure (512);

    for (const auto blockSize : { 1, 7, 4096 })
    {
        const auto f = measure (blockSize);
        ASSERT_EQ (f.peakDb.size(), reference.peakDb.size()) << blockSize;

        for (size_t ch = 0; ch < f.peakDb.size(); ++ch)
        {
            EXPECT_NEAR (f.peakDb[ch], reference.peakDb[ch], 0.05) << blockSize;
            EXPECT_NEAR (f.rmsDb[ch], reference.rmsDb[ch], 0.05) << blockSize;
        }

        EXPECT_EQ (f.loudestBand, reference.loudestBand) << blockSize;
        EXPECT_NEAR (f.loudestDb, reference.loudestDb, 0.05) << blockSize;
    }
}

// A full-scale sine reads 0 dB in its band wherever it falls among the bins.
TEST (AudioAnalysis, FullScaleSineReadsZeroDecibelsInItsBand)
{
    constexpr double rate = 48000.0;

    for (const auto fftSize : { 1024, 2048, 4096 })
    {
        for (const auto bandsPerOctave : { 1, 3, 24 })
        {
            quillbeat::BandSpectrum spectrum (fftSize, bandsPerOctave, rate);
            const auto binHz = rate / fftSize;
            std::vector<float> samples ((size_t) fftSize), bands ((size_t) spectrum.bandCount());

            for (const auto hz : { 100.0, toneHz, 40.5 * binHz, 40.25 * binHz, 3456.7, 15000.0, 19990.0 })
            {
                for (int n = 0; n < fftSize; ++n)
                    samples[(size_t) n] = (float) std::sin (juce::MathConstants<double>::twoPi * hz * n / rate + 0.3);

                spectrum.measure (samples.data(), bands.data());
                EXPECT_NEAR (bands[(size_t) bandHolding (hz, bandsPerOctave)], 0.0, 0.5)
                    << hz << " Hz, " << fftSize << " points, " << bandsPerOctave << " bands an octave";
            }
        }
    }
}

TEST (AudioAnalysis, BandsStopAtTwentyKilohertzOrNyquist)
{
    const struct
    {
        int bandsPerOctave;
        double rate;
        int bands;
    } cases[] = {
        { 1, 48000.0, 10 },     // 20 Hz .. 20 kHz is just under ten octaves
        { 6, 48000.0, 60 },
        { 24, 192000.0, 240 },
        { 3, 22050.0, 28 },     // Nyquist 11025 Hz: 9.1 octaves
        { 1, 44100.0, 10 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (quillbeat::BandSpectrum::bandCountFor (c.bandsPerOctave, c.rate), c.bands) << c.bandsPerOctave << " at " << c.rate;
}

TEST (AudioAnalysis, WaveformSlicesHoldEachRunsLowestAndHighest)
{
    constexpr auto nan = std::numeric_limits<float>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<float>::infinity();

    const struct
    {
        const char* label;
        std::vector<float> samples;
        int slices;
        std::vector<float> lowest, highest;
    } cases[] = {
        { "two runs", { 0.1f, -0.2f, 0.3f, 0.4f }, 2, { -0.2f, 0.3f }, { 0.1f, 0.4f } },
        { "one slice", { 0.1f, -0.2f, 0.3f }, 1, { -0.2f }, { 0.3f } },
        { "uneven runs", { 1, 2, 3, 4, 5 }, 2, { 1, 3 }, { 2, 5 } },
        { "fewer samples than slices repeat them", { 0.5f, -0.5f }, 5, { 0.5f, 0.5f, 0.5f, -0.5f, -0.5f }, { 0.5f, 0.5f, 0.5f, -0.5f, -0.5f } },
        { "non-finite samples are left out, a slice of only them reads 0", { nan, inf, 0.5f, -inf }, 2, { 0.0f, 0.5f }, { 0.0f, 0.5f } },
        { "no samples", {}, 3, { 0, 0, 0 }, { 0, 0, 0 } },
    };

    for (const auto& c : cases)
    {
        std::vector<float> lowest ((size_t) c.slices), highest ((size_t) c.slices);
        quillbeat::measureWaveform (c.samples.data(), (std::int64_t) c.samples.size(), c.slices, lowest.data(), highest.data());
        EXPECT_EQ (lowest, c.lowest) << c.label;
        EXPECT_EQ (highest, c.highest) << c.label;
    }
}

TEST (AudioAnalysis, AFrameCarriesOnlyWhatWasAskedAndTheNewestBlocksStamps)
{
    PlayingProcessor p (48000.0, 256);
    p.processor.startAnalysis();
    AudioAnalyser analyser (p.processor.getAudioTap());

    const struct
    {
        const char* label;
        AnalysisSettings settings;
    } cases[] = {
        { "levels only", { true, false, false } },
        { "spectrum only, 4096 points, 24 bands", { false, true, false, 60, 4096, 24 } },
        { "waveform only, 1 slice", { false, false, true, 15, 2048, 6, false, 1 } },
        { "everything", {} },
    };

    for (const auto& c : cases)
    {
        analyser.setSettings (c.settings);
        p.play (3, 256, sineAt (0.5, 48000.0));
        const auto frame = analyser.nextFrame();
        ASSERT_TRUE (frame.has_value()) << c.label;

        const auto reading = p.processor.readPlayhead();
        EXPECT_EQ (frame->blockCount, reading.blockCount) << c.label;
        EXPECT_EQ (frame->captureTimeNs, reading.captureTimeNs.value_or (-1)) << c.label;
        EXPECT_EQ (frame->positionSamples, reading.positionSamples) << c.label;
        EXPECT_EQ (frame->ppqPosition, reading.ppqPosition) << c.label;
        EXPECT_EQ (frame->samples, 3 * 256) << c.label;

        EXPECT_EQ (frame->levels.size(), c.settings.levels ? 2u : 0u) << c.label;
        EXPECT_EQ (frame->hasSpectrum(), c.settings.spectrum) << c.label;
        EXPECT_EQ (frame->fftSize, c.settings.spectrum ? c.settings.fftSize : 0) << c.label;
        EXPECT_EQ (frame->hasWaveform(), c.settings.waveform) << c.label;

        if (c.settings.spectrum)
        {
            EXPECT_EQ ((int) frame->bandDb.at (0).size(), quillbeat::BandSpectrum::bandCountFor (c.settings.bandsPerOctave, 48000.0)) << c.label;
        }

        if (c.settings.waveform)
        {
            EXPECT_EQ ((int) frame->waveformMax.at (1).size(), c.settings.waveformSlices) << c.label;
        }
    }

    EXPECT_FALSE (analyser.nextFrame().has_value());
}

// Reusing a frame, a steady stream of frames allocates nothing.
TEST (AudioAnalysis, ReusedFramesAllocateNothing)
{
    PlayingProcessor p (48000.0, 512);
    p.processor.startAnalysis();
    AudioAnalyser analyser (p.processor.getAudioTap());
    AnalysisFrame frame;

    p.play (4, 512, sineAt (0.5, 48000.0));
    ASSERT_TRUE (analyser.nextFrame (frame));

    for (int i = 0; i < 10; ++i)
    {
        p.play (3, 512, sineAt (0.5, 48000.0));
        const ScopedAllocationCounter allocations;
        ASSERT_TRUE (analyser.nextFrame (frame));
        EXPECT_EQ (allocations.count(), 0u) << i;
    }
}

} // namespace
