#pragma once

#include <juce_dsp/juce_dsp.h>

#include <vector>

namespace quillbeat
{

// Fractional-octave bands of one block of samples, in dB relative to full
// scale, from 20 Hz up to the lower of 20 kHz and Nyquist.
//
// Hann window. Each bin's power is summed with its two neighbours' before the
// bands take their largest, which holds a sine's reading steady wherever it
// falls between bins (within 0.1 dB; a single bin would dip by 1.4 dB), and
// scaled so that a full-scale sine reads 0 dB in its band. A band too narrow
// to hold a bin takes the bin its centre falls in.
class BandSpectrum
{
public:
    static constexpr double lowHz = 20.0, highHz = 20000.0;

    // Allocates the transform, the window and the band table.
    BandSpectrum (int fftSize, int bandsPerOctave, double sampleRate);

    int fftSize() const noexcept { return size; }
    int bandCount() const noexcept { return (int) bandBins.size(); }

    // `samples` holds fftSize() samples, oldest first; non-finite ones count
    // as silence. Writes bandCount() values. No allocation.
    void measure (const float* samples, float* bandDb) noexcept;

    // How many bands lie under the lower of 20 kHz and Nyquist.
    static int bandCountFor (int bandsPerOctave, double sampleRate) noexcept;

private:
    struct BinRange
    {
        int first, last;   // inclusive
    };

    int size;
    juce::dsp::FFT fft;
    std::vector<float> window, work, binPower;
    std::vector<BinRange> bandBins;
    double fullScaleSinePower;
};

} // namespace quillbeat
