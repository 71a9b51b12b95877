#include "HostWindow.h"

#include "HostOptions.h"
#include "PageStateInHostState.h"

#include <algorithm>
#include <iterator>

namespace quillbeat::host
{

namespace
{
    constexpr int rowHeight = 38;
    constexpr int barHeight = 2 * rowHeight;
    constexpr const char* windowTitle = "Quillbeat stand-in host";

    // The window's signal menu; the item after these picks a WAV file.
    const SignalChoice menuSignals[] = {
        { SignalChoice::Kind::testNoise },
        { SignalChoice::Kind::sine, 997.0, -6.0 },
        { SignalChoice::Kind::sine, 1000.0, 0.0 },
        { SignalChoice::Kind::noise, 0.0, -12.0 },
        { SignalChoice::Kind::silence },
    };
    constexpr int wavFileItem = (int) std::size (menuSignals) + 1;

    juce::String formatClock (double seconds)
    {
        const auto whole = (juce::int64) seconds;
        return juce::String (whole / 60) + ":" + juce::String (whole % 60).paddedLeft ('0', 2) + "."
             + juce::String ((int) ((seconds - (double) whole) * 1000.0)).paddedLeft ('0', 3);
    }
} // namespace

class HostWindow::Content final : public juce::Component,
                                  private juce::Timer
{
public:
    Content (PluginRunner& r, bool showEditor, const juce::String& signatureText) : runner (r)
    {
        auto& head = runner.getPlayHead();

        for (auto* c : std::initializer_list<juce::Component*> { &play, &record, &rewind, &tempo, &signature, &status,
                                                                 &loop, &loopRange, &tempoStepsLabel, &tempoSteps, &signal,
                                                                 &save, &load })
            addAndMakeVisible (c);

        play.setClickingTogglesState (true);
        play.setToggleState (head.isPlaying(), juce::dontSendNotification);
        play.onClick = [this] { runner.getPlayHead().setPlaying (play.getToggleState()); updateButtons(); };

        record.setClickingTogglesState (true);
        record.setToggleState (head.isRecording(), juce::dontSendNotification);
        record.onClick = [this] { runner.getPlayHead().setRecording (record.getToggleState()); };

        rewind.onClick = [this] { runner.getPlayHead().returnToZero(); };

        tempo.setRange (20.0, 300.0, 0.1);
        tempo.setValue (head.getTempo(), juce::dontSendNotification);
        tempo.setTextValueSuffix (" bpm");
        tempo.setSliderStyle (juce::Slider::LinearBar);
        tempo.onValueChange = [this] { runner.getPlayHead().setTempo (tempo.getValue()); };

        for (const auto* sig : { "2/4", "3/4", "4/4", "5/4", "6/8", "7/8", "12/8" })
            signature.addItem (sig, signature.getNumItems() + 1);
        signature.setText (signatureText, juce::dontSendNotification);
        signature.onChange = [this]
        {
            const auto text = signature.getText();
            runner.getPlayHead().setTimeSignature (text.upToFirstOccurrenceOf ("/", false, false).getIntValue(),
                                                   text.fromFirstOccurrenceOf ("/", false, false).getIntValue());
        };

        // The timeline's text fields take effect on return or when left; text
        // that makes no sense turns red and changes nothing.
        const auto timeline = head.getTimeline();
        const auto range = timeline.getLoop();
        loop.setToggleState (range.isActive(), juce::dontSendNotification);
        loop.onClick = [this] { applyLoop(); };
        loopRange.setText (range.hasRange() ? juce::String (range.firstBar) + "-" + juce::String (range.lastBar) : "1-4",
                           juce::dontSendNotification);
        for (auto* field : { &loopRange, &tempoSteps })
            field->setJustification (juce::Justification::centredLeft);

        loopRange.setTooltip ("Bars to loop, both included: 9-10");
        loopRange.onReturnKey = loopRange.onFocusLost = [this] { applyLoop(); };

        tempoStepsLabel.setText ("Tempo steps", juce::dontSendNotification);
        tempoStepsLabel.setJustificationType (juce::Justification::centredRight);
        tempoSteps.setText (formatTempoSteps (timeline.getTempoSteps()), juce::dontSendNotification);
        tempoSteps.setTextToShowWhenEmpty ("BAR:BPM,...", juce::Colours::grey);
        tempoSteps.setTooltip ("Tempo changes at bar starts, e.g. 9:96,17:140 (the slider is the tempo from bar 1)");
        tempoSteps.onReturnKey = tempoSteps.onFocusLost = [this] { applyTempoSteps(); };

        for (const auto& choice : menuSignals)
            signal.addItem (describeSignalChoice (choice), signal.getNumItems() + 1);
        signal.addItem (juce::String::fromUTF8 ("WAV file\u2026"), wavFileItem);
        showSignal();
        signal.onChange = [this] { pickSignal(); };

        save.onClick = [this] { chooseStateFile (true); };
        load.onClick = [this] { chooseStateFile (false); };

        if (showEditor)
            if ((editor.reset (runner.getPlugin().createEditorIfNeeded()), editor != nullptr))
                addAndMakeVisible (*editor);

        updateButtons();
        setSize (editor != nullptr ? editor->getWidth() : 900, barHeight + (editor != nullptr ? editor->getHeight() : 0));
        startTimerHz (10);
    }


    void paint (juce::Graphics& g) override { g.fillAll (juce::Colour (0xff1c1c28)); }

    void resized() override
    {
        auto bar = getLocalBounds().removeFromTop (barHeight);
        auto transport = bar.removeFromTop (rowHeight).reduced (6, 4);
        play.setBounds (transport.removeFromLeft (70));
        record.setBounds (transport.removeFromLeft (70).withTrimmedLeft (4));
        rewind.setBounds (transport.removeFromLeft (50).withTrimmedLeft (4));
        tempo.setBounds (transport.removeFromLeft (130).withTrimmedLeft (8));
        signature.setBounds (transport.removeFromLeft (80).withTrimmedLeft (8));
        status.setBounds (transport.withTrimmedLeft (10));

        auto timeline = bar.reduced (6, 4);
        loop.setBounds (timeline.removeFromLeft (64));
        loopRange.setBounds (timeline.removeFromLeft (70));
        tempoStepsLabel.setBounds (timeline.removeFromLeft (100));
        tempoSteps.setBounds (timeline.removeFromLeft (180).withTrimmedLeft (4));
        signal.setBounds (timeline.removeFromLeft (230).withTrimmedLeft (8));
        load.setBounds (timeline.removeFromRight (90).withTrimmedLeft (4));
        save.setBounds (timeline.removeFromRight (90).withTrimmedLeft (4));

        if (editor != nullptr)
            editor->setBounds (getLocalBounds().withTrimmedTop (barHeight));
    }

    // The editor may resize itself; the window follows.
    void childBoundsChanged (juce::Component* child) override
    {
        if (child == editor.get() && editor != nullptr)
            setSize (editor->getWidth(), barHeight + editor->getHeight());
    }

private:
    void timerCallback() override
    {
        auto& head = runner.getPlayHead();
        const auto where = head.getMusicalPosition();
        const auto modified = runner.getStateChangeMark().isSet();

        // As a DAW marks its project: the plug-in's state changed since it was last saved.
        if (auto* window = findParentComponentOfClass<juce::DocumentWindow>())
            window->setName (juce::String (windowTitle) + (modified ? " (modified)" : ""));

        if (const auto changes = runner.getStateChangeMark().getChangeCount(); changes != pageStateSeenAt || pageStateStale)
        {
            pageStateSeenAt = changes;
            pageStateStale = false;
            pageStateText = describePageState();
        }

        status.setText ((modified ? juce::String ("modified   ") : juce::String())
                            + formatClock ((double) head.getPositionSamples() / runner.getSampleRate())
                            + "   " + juce::String (where.bar) + "." + juce::String (where.beat)
                            + "   " + juce::String (head.getCurrentTempo(), 1) + " bpm"
                            + "   blocks " + juce::String (runner.getBlockCount())
                            + "   mismatches " + juce::String (runner.getMismatchCount())
                            + "   " + pageStateText,
                        juce::dontSendNotification);
        status.setColour (juce::Label::textColourId, runner.getMismatchCount() == 0 ? juce::Colours::lightgreen : juce::Colours::red);
    }

    // Read again only when the plug-in reports a change or a state was loaded:
    // a whole state can be megabytes.
    juce::String describePageState()
    {
        juce::MemoryBlock state;
        runner.getPlugin().getStateInformation (state);
        const auto pageState = pageStateIn (state);
        return pageState.has_value() ? "page state " + juce::String ((juce::int64) pageState->getNumBytesAsUTF8()) + " bytes"
                                     : juce::String ("no page state");
    }

    void updateButtons() { play.setButtonText (play.getToggleState() ? "Stop" : "Play"); }

    static void markValid (juce::TextEditor& field, bool valid)
    {
        field.applyColourToAllText (valid ? juce::Colours::white : juce::Colours::red);
    }

    void applyLoop()
    {
        juce::String error;
        auto range = parseBarRange (loopRange.getText(), error);
        markValid (loopRange, range.has_value());

        if (range.has_value())
        {
            range->enabled = loop.getToggleState();
            runner.getPlayHead().setLoop (*range);
        }
    }

    void applyTempoSteps()
    {
        juce::String error;
        const auto steps = parseTempoSteps (tempoSteps.getText(), error);
        markValid (tempoSteps, steps.has_value());

        if (steps.has_value())
            runner.getPlayHead().setTempoSteps (*steps);
    }

    // Shows the signal the runner was last given: its menu item, or its
    // description when no item names it (a file, or one from the command line).
    void showSignal()
    {
        const auto& current = runner.getSignalChoice();
        const auto* item = std::find (std::begin (menuSignals), std::end (menuSignals), current);

        if (item != std::end (menuSignals))
            signal.setSelectedId ((int) (item - std::begin (menuSignals)) + 1, juce::dontSendNotification);
        else
            signal.setText (runner.describeSignal(), juce::dontSendNotification);

        signal.setTooltip (runner.describeSignal() + (runner.getSignalWarning().isNotEmpty() ? "\n" + runner.getSignalWarning() : juce::String()));
    }

    void pickSignal()
    {
        const auto id = signal.getSelectedId();

        if (id >= 1 && id < wavFileItem)
            return useSignal (menuSignals[id - 1]);

        if (id != wavFileItem)
            return;

        showSignal();   // until a file is picked
        chooser = std::make_unique<juce::FileChooser> ("Feed a WAV file, in a loop",
                                                       juce::File::getSpecialLocation (juce::File::userHomeDirectory), "*.wav");
        chooser->launchAsync (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles,
                              [this] (const juce::FileChooser& fc)
        {
            if (const auto file = fc.getResult(); file != juce::File())
                useSignal ({ SignalChoice::Kind::file, 0.0, 0.0, file });
        });
    }

    void useSignal (const SignalChoice& choice)
    {
        juce::String error;

        if (auto source = SignalSource::create (choice, error))
        {
            runner.setSignal (std::move (source));

            if (const auto warning = runner.getSignalWarning(); warning.isNotEmpty())
                juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::InfoIcon, "Signal", warning);
        }
        else
        {
            juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, "Signal", error);
        }

        showSignal();
    }

    void chooseStateFile (bool saving)
    {
        chooser = std::make_unique<juce::FileChooser> (saving ? "Save the plug-in's state" : "Load a plug-in state",
                                                       juce::File::getSpecialLocation (juce::File::userHomeDirectory), "*.qbstate");
        const auto chooserFlags = juce::FileBrowserComponent::canSelectFiles
                         | (saving ? juce::FileBrowserComponent::saveMode | juce::FileBrowserComponent::warnAboutOverwriting
                                   : juce::FileBrowserComponent::openMode);

        chooser->launchAsync (chooserFlags, [this, saving] (const juce::FileChooser& fc)
        {
            const auto file = fc.getResult();
            if (file == juce::File())
                return;

            if (saving)
            {
                juce::MemoryBlock state;
                runner.getPlugin().getStateInformation (state);

                if (file.replaceWithData (state.getData(), state.getSize()))
                    runner.getStateChangeMark().clear();
            }
            else
            {
                juce::MemoryBlock state;
                if (file.loadFileAsData (state))
                    runner.getPlugin().setStateInformation (state.getData(), (int) state.getSize());
                pageStateStale = true;
            }
        });
    }

    PluginRunner& runner;
    juce::TextButton play { "Play" }, record { "Rec" }, rewind { "|<" }, save { "Save state" }, load { "Load state" };
    juce::Slider tempo;
    juce::ComboBox signature, signal;
    juce::Label status, tempoStepsLabel;
    juce::ToggleButton loop { "Loop" };
    juce::TextEditor loopRange, tempoSteps;
    juce::TooltipWindow tooltips { this };
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    std::unique_ptr<juce::FileChooser> chooser;
    juce::uint32 pageStateSeenAt = 0;
    bool pageStateStale = true;
    juce::String pageStateText;
};

HostWindow::HostWindow (PluginRunner& runner, bool showEditor, const juce::String& signatureText)
    : juce::DocumentWindow (windowTitle, juce::Colour (0xff1c1c28), juce::DocumentWindow::allButtons)
{
    content = std::make_unique<Content> (runner, showEditor, signatureText);
    setUsingNativeTitleBar (true);
    setContentNonOwned (content.get(), true);
    setResizable (true, false);
    setVisible (true);
}

HostWindow::~HostWindow()
{
    clearContentComponent();
    content.reset();
}

void HostWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}

} // namespace quillbeat::host
