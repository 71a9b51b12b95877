#include "PageStateInHostState.h"

#include <processor/SessionState.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>

namespace quillbeat::host
{

namespace
{
    // The part of the host's XML that holds the plug-in component's own bytes.
    constexpr const char* componentTag = "IComponent";

    // The component's bytes, split where the plug-in's JSON ends: the JSON
    // never holds a NUL byte (the writer escapes it), and the framework's
    // trailer starts with eight of them.
    struct ComponentState
    {
        juce::MemoryBlock json, trailer;
    };

    std::optional<ComponentState> componentStateOf (const juce::XmlElement& xml)
    {
        const auto* component = xml.getChildByName (componentTag);

        if (component == nullptr)
            return {};

        juce::MemoryBlock bytes;

        if (! bytes.fromBase64Encoding (component->getAllSubText()))
            return {};

        const auto* begin = static_cast<const char*> (bytes.getData());
        const auto* end = begin + bytes.getSize();
        const auto* split = std::find (begin, end, '\0');

        return ComponentState { juce::MemoryBlock (begin, (size_t) (split - begin)),
                                juce::MemoryBlock (split, (size_t) (end - split)) };
    }

    // The host's state taken apart: its XML, the component's bytes split at
    // the end of the plug-in's JSON, and that JSON read.
    struct HostState
    {
        std::unique_ptr<juce::XmlElement> xml;
        ComponentState component;
        SessionState session;
    };

    std::optional<HostState> readHostState (const juce::MemoryBlock& hostState)
    {
        auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());

        if (xml == nullptr)
            return {};

        auto component = componentStateOf (*xml);

        if (! component.has_value())
            return {};

        auto session = decodeSessionState (component->json.getData(), (int) component->json.getSize());

        if (! session.has_value())
            return {};

        return HostState { std::move (xml), std::move (*component), std::move (*session) };
    }
} // namespace

std::optional<juce::String> pageStateIn (const juce::MemoryBlock& hostState)
{
    const auto state = readHostState (hostState);
    return state.has_value() ? std::optional (state->session.webState) : std::nullopt;
}

std::optional<juce::MemoryBlock> withPageState (const juce::MemoryBlock& hostState, const juce::String& pageState)
{
    auto state = readHostState (hostState);

    if (! state.has_value())
        return {};

    state->session.webState = pageState;

    juce::MemoryOutputStream bytes;
    bytes << encodeSessionState (state->session);
    bytes << state->component.trailer;

    auto* element = state->xml->getChildByName (componentTag);
    element->deleteAllTextElements();
    element->addTextElement (bytes.getMemoryBlock().toBase64Encoding());

    juce::MemoryBlock result;
    juce::AudioProcessor::copyXmlToBinary (*state->xml, result);
    return result;
}

} // namespace quillbeat::host
