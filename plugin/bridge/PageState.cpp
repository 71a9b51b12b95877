#include "PageState.h"

#include <processor/SessionState.h>

#include <cstring>

namespace quillbeat
{

namespace
{
    juce::String describeType (const juce::var& value)
    {
        if (value.isVoid() || value.isUndefined())
            return "nothing";

        if (value.isBool())
            return "a boolean";

        if (value.isInt() || value.isInt64() || value.isDouble())
            return "a number";

        if (value.isArray())
            return "an array";

        if (value.isObject())
            return "an object";

        return "another kind of value";
    }
} // namespace

std::optional<juce::String> pageStateRefusal (const void* utf8, size_t numBytes)
{
    if (numBytes > maxPageStateBytes)
        return "the page state is " + juce::String ((juce::uint64) numBytes) + " bytes in UTF-8; the limit is "
             + juce::String ((juce::uint64) maxPageStateBytes);

    if ((numBytes > 0 && std::memchr (utf8, 0, numBytes) != nullptr) || ! isWellFormedUtf8 (utf8, numBytes))
        return juce::String ("the page state is not valid text: it must be well-formed Unicode without NUL characters");

    return std::nullopt;
}

PageStateRequest readPageStateRequest (const juce::Array<juce::var>& arguments)
{
    const auto value = arguments.isEmpty() ? juce::var() : arguments.getReference (0);

    if (! value.isString())
        return { std::nullopt, "the page state must be a string, not " + describeType (value) };

    auto text = value.toString();

    if (auto refusal = pageStateRefusal (text.toRawUTF8(), text.getNumBytesAsUTF8()))
        return { std::nullopt, *refusal };

    return { std::move (text), {} };
}

juce::var pageStateSetResult (const juce::String& error)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("ok", error.isEmpty());

    if (error.isNotEmpty())
        object->setProperty ("error", error);

    return juce::var (object.release());
}

} // namespace quillbeat
