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

    std::optional<SessionState> sessionStateOf (const ComponentState& component)
    {
        return decodeSessionState (component.json.getData(), (int) component.json.getSize());
    }
} // namespace

std::optional<juce::String> pageStateIn (const juce::MemoryBlock& hostState)
{
    const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());

    if (xml == nullptr)
        return {};

    const auto component = componentStateOf (*xml);

    if (! component.has_value())
        return {};

    const auto session = sessionStateOf (*component);
    return session.has_value() ? std::optional (session->webState) : std::nullopt;
}

std::optional<juce::MemoryBlock> withPageState (const juce::MemoryBlock& hostState, const juce::String& pageState)
{
    const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());

    if (xml == nullptr)
        return {};

    const auto component = componentStateOf (*xml);

    if (! component.has_value())
        return {};

    auto session = sessionStateOf (*component);

    if (! session.has_value())
        return {};

    session->webState = pageState;

    juce::MemoryOutputStream bytes;
    bytes << encodeSessionState (*session);
    bytes << component->trailer;

    auto* element = xml->getChildByName (componentTag);
    element->deleteAllTextElements();
    element->addTextElement (bytes.getMemoryBlock().toBase64Encoding());

    juce::MemoryBlock result;
    juce::AudioProcessor::copyXmlToBinary (*xml, result);
    return result;
}

} // namespace quillbeat::host
