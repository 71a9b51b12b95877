#include "SessionState.h"

#include <cmath>
#include <cstring>

namespace quillbeat
{

namespace
{
    double leadingInteger (const juce::String& text)
    {
        auto p = text.getCharPointer();

        while (p.isWhitespace())
            ++p;

        const bool negative = *p == '-';

        if (*p == '-' || *p == '+')
            ++p;

        // Accumulating in a double saturates harmlessly on absurdly long digit runs.
        double magnitude = 0.0;

        while (p.isDigit())
            magnitude = magnitude * 10.0 + (double) (p.getAndAdvance() - '0');

        return negative ? -magnitude : magnitude;
    }

    double wholeNumberOf (const juce::var& value)
    {
        if (value.isBool())
            return (bool) value ? 1.0 : 0.0;

        if (value.isInt() || value.isInt64())
            return (double) (juce::int64) value;

        if (value.isDouble())
        {
            const auto d = (double) value;
            return std::isfinite (d) ? std::trunc (d) : 0.0;
        }

        if (value.isString())
            return leadingInteger (value.toString());

        return 0.0;
    }
} // namespace

int toClampedInt (const juce::var& value, int lowest, int highest)
{
    return (int) juce::jlimit ((double) lowest, (double) highest, wholeNumberOf (value));
}

juce::String encodeSessionState (const SessionState& state)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("windowWidth", state.windowWidth);
    object->setProperty ("windowHeight", state.windowHeight);
    object->setProperty ("webState", state.webState);
    object->setProperty ("version", SessionState::formatVersion);

    return juce::JSON::toString (juce::var (object.release()));
}

std::optional<SessionState> decodeSessionState (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return std::nullopt;

    const auto* text = static_cast<const char*> (data);

    // The framework's strings stop at a NUL, which would let a damaged block
    // pass as its intact prefix; and bytes that are not UTF-8 are not text.
    if (std::memchr (text, 0, (size_t) sizeInBytes) != nullptr
        || ! juce::CharPointer_UTF8::isValidString (text, sizeInBytes))
        return std::nullopt;

    juce::var parsed;

    if (juce::JSON::parse (juce::String::fromUTF8 (text, sizeInBytes), parsed).failed())
        return std::nullopt;

    const auto* object = parsed.getDynamicObject();

    if (object == nullptr)
        return std::nullopt;

    SessionState state;
    state.windowWidth = toClampedInt (object->getProperty ("windowWidth"), SessionState::minWidth, SessionState::maxWidth);
    state.windowHeight = toClampedInt (object->getProperty ("windowHeight"), SessionState::minHeight, SessionState::maxHeight);
    state.webState = object->getProperty ("webState").toString();
    return state;
}

} // namespace quillbeat
