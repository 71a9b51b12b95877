#include "PageState.h"

#include "NativeAnswer.h"

#include <processor/SessionState.h>

#include <cstring>

namespace quillbeat
{

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
        return { std::nullopt, "the page state must be a string, not " + describeValueType (value) };

    auto text = value.toString();

    if (auto refusal = pageStateRefusal (text.toRawUTF8(), text.getNumBytesAsUTF8()))
        return { std::nullopt, *refusal };

    return { std::move (text), {} };
}

juce::var pageStateSetResult (const juce::String& error)
{
    return okOrError (error);
}

} // namespace quillbeat
