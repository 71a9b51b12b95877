// Quillbeat's stand-in host: loads a VST3 plug-in (by default the freshly
// built Quillbeat.vst3), gives it a transport and real-time audio, and shows
// its editor, for people without a DAW and for our own tests.

#include "HostOptions.h"
#include "HostWindow.h"
#include "PageStateInHostState.h"
#include "PluginRunner.h"
#include "WindowScreenshot.h"

#include <processor/SessionState.h>

#include <iostream>

namespace quillbeat::host
{

class HostApplication final : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Quillbeat stand-in host"; }
    const juce::String getApplicationVersion() override { return "1.0.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        const auto parsed = parseHostOptions (getCommandLineParameterArray(), juce::File (QUILLBEAT_DEFAULT_PLUGIN));

        if (! parsed.options.has_value())
            return fail (parsed.error.isEmpty() ? hostUsage() : parsed.error + "\n" + hostUsage(), parsed.error.isEmpty() ? 0 : 2);

        options = *parsed.options;

        juce::String error;
        runner = PluginRunner::load (options.plugin, error);

        if (runner == nullptr)
            return fail ("cannot load the plug-in: " + error, 1);

        if (options.loadState != juce::File() && ! loadState())
            return fail ("cannot read the state file " + options.loadState.getFullPathName(), 1);

        if (! startWithPageState (error))
            return fail (error, 1);

        auto signal = SignalSource::create (options.signal, error);
        if (signal == nullptr)
            return fail (error, 1);
        runner->setSignal (std::move (signal));

        auto& head = runner->getPlayHead();
        head.setTempo (options.bpm);
        head.setTimeSignature (options.timeSigNum, options.timeSigDen);
        head.setTempoSteps (options.tempoSteps);
        head.setLoop (options.loop);
        head.seekToBar (options.startBar);
        head.setPlaying (options.play || ! options.headless);
        head.setRecording (options.record);

        runner->start (! options.headless);

        if (const auto warning = runner->getSignalWarning(); warning.isNotEmpty())
            std::cerr << "note: " << warning << std::endl;

        if (! options.headless || options.openEditor)
            window = std::make_unique<HostWindow> (*runner, ! options.headless || options.openEditor,
                                                   juce::String (options.timeSigNum) + "/" + juce::String (options.timeSigDen));

        if (options.headless)
            juce::Timer::callAfterDelay ((int) (options.seconds * 1000.0), [this] { finishHeadlessRun(); });
    }

    void shutdown() override
    {
        window.reset();
        runner.reset();
    }

    void systemRequestedQuit() override { quit(); }

private:
    void fail (const juce::String& message, int exitCode)
    {
        (exitCode == 0 ? std::cout : std::cerr) << message << std::endl;
        setApplicationReturnValue (exitCode);
        quit();
    }

    bool loadState()
    {
        juce::MemoryBlock state;
        if (! options.loadState.loadFileAsData (state))
            return false;
        runner->getPlugin().setStateInformation (state.getData(), (int) state.getSize());
        return true;
    }

    // Replaces the plug-in's page state with the one asked for, as a project
    // that holds it would on loading.
    bool startWithPageState (juce::String& error)
    {
        auto text = options.pageState;

        if (options.pageStateFile != juce::File())
        {
            juce::MemoryBlock bytes;
            if (! options.pageStateFile.loadFileAsData (bytes))
                return (error = "cannot read the page-state file " + options.pageStateFile.getFullPathName()), false;
            if (! isWellFormedUtf8 (bytes.getData(), bytes.getSize()))
                return (error = "the page-state file " + options.pageStateFile.getFullPathName() + " is not UTF-8 text"), false;
            text = juce::String::fromUTF8 (static_cast<const char*> (bytes.getData()), (int) bytes.getSize());
        }

        if (! text.has_value())
            return true;

        juce::MemoryBlock state;
        runner->getPlugin().getStateInformation (state);
        const auto changed = withPageState (state, *text);

        if (! changed.has_value())
            return (error = "the plug-in's state holds no page state"), false;

        runner->getPlugin().setStateInformation (changed->getData(), (int) changed->getSize());
        return true;
    }

    void finishHeadlessRun()
    {
        runner->stop();
        bool ok = runner->getBlockCount() > 0 && runner->getMismatchCount() == 0;

        if (options.screenshot != juce::File())
        {
            const auto written = window != nullptr && writeWindowScreenshot (*window, options.screenshot);
            std::cout << (written ? "screenshot " + options.screenshot.getFullPathName() : juce::String ("screenshot failed")) << std::endl;
            ok = ok && written;
        }

        juce::MemoryBlock state;
        runner->getPlugin().getStateInformation (state);

        if (options.saveState != juce::File())
            ok = options.saveState.replaceWithData (state.getData(), state.getSize()) && ok;

        const auto pageState = options.printPageState ? pageStateIn (state) : std::nullopt;

        if (options.printPageState && ! pageState.has_value())
        {
            std::cerr << "the plug-in's state holds no page state" << std::endl;
            ok = false;
        }

        const auto& head = runner->getPlayHead();
        const auto loop = head.getTimeline().getLoop();
        std::cout << "Quillbeat host: " << runner->getBlockCount() << " blocks ("
                  << runner->describeSchedule() << "), " << runner->getMismatchCount() << " mismatches, "
                  << "state " << state.getSize() << " bytes, " << juce::String (head.getTempo(), 1) << " bpm "
                  << options.timeSigNum << "/" << options.timeSigDen << ", "
                  << (options.play ? "played " : "stopped at ")
                  << juce::String ((double) head.getPositionSamples() / runner->getSampleRate(), 3) << " s"
                  << ", at " << formatBarBeatTick (head.getMusicalPosition())
                  << (loop.isActive() ? ", looping " + juce::String (loop.firstBar) + "-" + juce::String (loop.lastBar) : juce::String())
                  << (runner->getStateChangeMark().isSet() ? ", modified" : "")
                  << ", signal " << runner->describeSignal()
                  << (ok ? "" : "  FAILED") << std::endl;

        if (pageState.has_value())
        {
            // Exactly as stored: no line end added, so the output after the summary line is the text.
            std::cout.write (pageState->toRawUTF8(), (std::streamsize) pageState->getNumBytesAsUTF8());
            std::cout.flush();
        }

        setApplicationReturnValue (ok ? 0 : 1);
        quit();
    }

    HostOptions options;
    std::unique_ptr<PluginRunner> runner;
    std::unique_ptr<HostWindow> window;
};

} // namespace quillbeat::host

START_JUCE_APPLICATION (quillbeat::host::HostApplication)
