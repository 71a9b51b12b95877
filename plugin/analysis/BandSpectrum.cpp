#include "BandSpectrum.h"

#include "AnalysisFrame.h"
#include "Levels.h"

#include <algorithm>
#include <cmath>

namespace quillbeat
{

namespace
{
    double topHz (double sampleRate) noexcept { return std::min (BandSpectrum::highHz, sampleRate / 2.0); }
} // namespace

int BandSpectrum::bandCountFor (int bandsPerOctave, double sampleRate) noexcept
{
    const auto top = topHz (sampleRate);

    if (! (top > lowHz) || bandsPerOctave <= 0)
        return 0;

    // The tiny margin keeps a band from starting exactly at the top.
    return (int) std::ceil (bandsPerOctave * std::log2 (top / lowHz) - 1.0e-9);
}

BandSpectrum::BandSpectrum (int fftSize, int bandsPerOctave, double sampleRate)
    : size (fftSize),
      fft (juce::roundToInt (std::log2 (fftSize))),
      window ((size_t) fftSize),
      work ((size_t) fftSize * 2),
      binPower ((size_t) fftSize / 2 + 1)
{
    jassert (juce::isPowerOfTwo (fftSize));

    // The periodic Hann window, whose coherent gain is exactly one half.
    for (int n = 0; n < size; ++n)
        window[(size_t) n] = (float) (0.5 - 0.5 * std::cos (juce::MathConstants<double>::twoPi * n / size));

    // A full-scale sine on a bin gives that bin a magnitude of N/4 and each
    // neighbour N/8: three bins' power of 1.5 (N/4)^2.
    fullScaleSinePower = 1.5 * std::pow (size / 4.0, 2.0);

    const auto binHz = sampleRate / size;
    const auto top = topHz (sampleRate);
    const auto lastBin = size / 2;
    const auto bands = bandCountFor (bandsPerOctave, sampleRate);
    bandBins.reserve ((size_t) bands);

    for (int i = 0; i < bands; ++i)
    {
        const auto low = lowHz * std::pow (2.0, (double) i / bandsPerOctave);
        const auto high = std::min (top, lowHz * std::pow (2.0, (double) (i + 1) / bandsPerOctave));

        // Bins whose centre lies in [low, high).
        auto first = (int) std::ceil (low / binHz);
        auto last = (int) std::ceil (high / binHz) - 1;

        if (last < first)
            first = last = (int) std::lround (std::sqrt (low * high) / binHz);

        bandBins.push_back ({ std::clamp (first, 0, lastBin), std::clamp (last, 0, lastBin) });
    }
}

void BandSpectrum::measure (const float* samples, float* bandDb) noexcept
{
    for (int n = 0; n < size; ++n)
    {
        const auto s = samples[n];
        work[(size_t) n] = std::isfinite (s) ? s * window[(size_t) n] : 0.0f;
    }

    std::fill (work.begin() + size, work.end(), 0.0f);
    fft.performRealOnlyForwardTransform (work.data(), true);

    const auto bins = (int) binPower.size();

    for (int k = 0; k < bins; ++k)
    {
        const auto re = (double) work[(size_t) (2 * k)], im = (double) work[(size_t) (2 * k + 1)];
        binPower[(size_t) k] = (float) (re * re + im * im);
    }

    const auto power = [this, bins] (int k) { return k >= 0 && k < bins ? (double) binPower[(size_t) k] : 0.0; };

    for (size_t b = 0; b < bandBins.size(); ++b)
    {
        auto largest = 0.0;

        for (auto k = bandBins[b].first; k <= bandBins[b].last; ++k)
            largest = std::max (largest, power (k - 1) + power (k) + power (k + 1));

        bandDb[b] = (float) powerToDb (largest / fullScaleSinePower);
    }
}

} // namespace quillbeat
