#include "HostWindow.h"

namespace quillbeat::host
{

namespace
{
    constexpr int barHeight = 44;

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

        for (auto* c : std::initializer_list<juce::Component*> { &play, &record, &rewind, &tempo, &signature, &status, &save, &load })
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
        auto bar = getLocalBounds().removeFromTop (barHeight).reduced (6);
        play.setBounds (bar.removeFromLeft (70));
        record.setBounds (bar.removeFromLeft (70).withTrimmedLeft (4));
        rewind.setBounds (bar.removeFromLeft (50).withTrimmedLeft (4));
        tempo.setBounds (bar.removeFromLeft (130).withTrimmedLeft (8));
        signature.setBounds (bar.removeFromLeft (80).withTrimmedLeft (8));
        load.setBounds (bar.removeFromRight (90).withTrimmedLeft (4));
        save.setBounds (bar.removeFromRight (90).withTrimmedLeft (4));
        status.setBounds (bar.withTrimmedLeft (10));

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
        status.setText (formatClock ((double) head.getPositionSamples() / runner.getSampleRate())
                            + "   blocks " + juce::String (runner.getBlockCount())
                            + "   mismatches " + juce::String (runner.getMismatchCount()),
                        juce::dontSendNotification);
        status.setColour (juce::Label::textColourId, runner.getMismatchCount() == 0 ? juce::Colours::lightgreen : juce::Colours::red);
    }

    void updateButtons() { play.setButtonText (play.getToggleState() ? "Stop" : "Play"); }

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
                file.replaceWithData (state.getData(), state.getSize());
            }
            else
            {
                juce::MemoryBlock state;
                if (file.loadFileAsData (state))
                    runner.getPlugin().setStateInformation (state.getData(), (int) state.getSize());
            }
        });
    }

    PluginRunner& runner;
    juce::TextButton play { "Play" }, record { "Rec" }, rewind { "|<" }, save { "Save state" }, load { "Load state" };
    juce::Slider tempo;
    juce::ComboBox signature;
    juce::Label status;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    std::unique_ptr<juce::FileChooser> chooser;
};

HostWindow::HostWindow (PluginRunner& runner, bool showEditor, const juce::String& signatureText)
    : juce::DocumentWindow ("Quillbeat stand-in host", juce::Colour (0xff1c1c28), juce::DocumentWindow::allButtons)
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
