#include "NativeAnswer.h"

namespace quillbeat
{

juce::var okOrError (const juce::String& error)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("ok", error.isEmpty());

    if (error.isNotEmpty())
        object->setProperty ("error", error);

    return juce::var (object.release());
}

juce::String describeValueType (const juce::var& value)
{
    if (value.isVoid() || value.isUndefined())
        return "nothing";

    if (value.isBool())
        return "a boolean";

    if (value.isInt() || value.isInt64() || value.isDouble())
        return "a number";

    if (value.isString())
        return "a string";

    if (value.isArray())
        return "an array";

    if (value.isObject())
        return "an object";

    return "another kind of value";
}

} // namespace quillbeat
