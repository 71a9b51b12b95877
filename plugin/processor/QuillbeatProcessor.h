#pragma once

#include "AudioTap.h"
#include "SessionState.h"
#include "TransportSnapshot.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <mutex>

class QuillbeatProcessor final : public juce::AudioProcessor
{
public:
    QuillbeatProcessor();

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    double getTailLengthSeconds() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    bool hasEditor() const override;
    juce::AudioProcessorEditor* createEditor() override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    // One reading of the host transport; safe on any thread, lock-free.
    quillbeat::TransportReading readTransport() const noexcept { return transport.read(); }

    // Everything the play head reported for the newest block; any thread, lock-free.
    quillbeat::PlayheadReading readPlayhead() const noexcept { return transport.readPlayhead(); }

    // The editor's size, kept for the saved state. Any thread.
    int getWindowWidth() const noexcept { return windowWidth.load (std::memory_order_relaxed); }
    int getWindowHeight() const noexcept { return windowHeight.load (std::memory_order_relaxed); }
    void setWindowSize (int width, int height) noexcept;

    juce::String getWebState() const;

    // The page replaces its state: stored under the state lock, then the host
    // is told the project changed. Message thread only.
    void setWebStateFromPage (const juce::String& text);

    // How many states the host has loaded into this instance, so an open
    // editor can tell its page. Any thread, lock-free.
    juce::uint32 getStateLoadCount() const noexcept { return stateLoads.load (std::memory_order_acquire); }

    // The audio a page analyses. Message thread: startAnalysis() allocates the
    // tap on first use, starts it afresh and has processBlock feed it;
    // stopAnalysis() puts processBlock back on its path without it.
    void startAnalysis();
    void stopAnalysis() noexcept;
    bool isAnalysing() const noexcept { return analysisWanted.load (std::memory_order_relaxed); }
    quillbeat::AudioTap& getAudioTap() noexcept { return tap; }

private:
    // The page-state text is written by state loads on a host thread of the
    // host's choosing and by the page on the message thread; the lock keeps
    // them and a save from interleaving. Never taken on the audio thread.
    mutable std::mutex stateLock;
    juce::String webState;
    std::atomic<juce::uint32> stateLoads { 0 };
    std::atomic<int> windowWidth { quillbeat::SessionState {}.windowWidth };
    std::atomic<int> windowHeight { quillbeat::SessionState {}.windowHeight };

    quillbeat::TransportSnapshot transport;

    // Off, processBlock's only cost for analysis is loading this flag.
    std::atomic<bool> analysisWanted { false };
    quillbeat::AudioTap tap;
    void feedAnalysis (const juce::AudioBuffer<float>&, const quillbeat::TransportSnapshot::Block&) noexcept;

    double preparedSampleRate = 0.0;
    int preparedBlockSize = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillbeatProcessor)
};
