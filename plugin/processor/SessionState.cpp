#include "SessionState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

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

// Strict UTF-8: every sequence complete, in its shortest form, and naming
// a Unicode scalar value. The framework's own check lets a sequence whose
// continuation bytes are missing through, and its decoder then swallows
// the characters after it, so a damaged block would load as other text.
bool isWellFormedUtf8 (const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*> (data);

    for (size_t i = 0; i < size;)
    {
        const auto lead = bytes[i];

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        // The lead byte's high bits give the length; a code point that
        // would fit a shorter form must use it.
        struct Form
        {
            unsigned char mask, marker;
            size_t length;
            juce::uint32 shortest;
        };
        static constexpr Form forms[] = { { 0xe0, 0xc0, 2, 0x80 }, { 0xf0, 0xe0, 3, 0x800 }, { 0xf8, 0xf0, 4, 0x10000 } };

        const auto* form = std::find_if (std::begin (forms), std::end (forms),
                                         [lead] (const Form& f) { return (lead & f.mask) == f.marker; });

        if (form == std::end (forms) || size - i < form->length)
            return false;

        const auto length = form->length;
        const auto shortest = form->shortest;
        auto codePoint = (juce::uint32) (lead & ~form->mask & 0xff);

        for (size_t k = 1; k < length; ++k)
        {
            if ((bytes[i + k] & 0xc0) != 0x80)
                return false;

            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3fu);
        }

        if (codePoint < shortest || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
            return false;

        i += length;
    }

    return true;
}

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
        || ! isWellFormedUtf8 (text, (size_t) sizeInBytes))
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
