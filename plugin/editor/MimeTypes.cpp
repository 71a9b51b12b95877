#include "MimeTypes.h"

namespace quillbeat
{

juce::String contentTypeForPath (const juce::String& path)
{
    static constexpr const char* utf8 = "; charset=utf-8";

    static constexpr struct
    {
        const char* ending;
        const char* type;
        bool isText;
    } table[] = {
        { ".html", "text/html", true },
        { ".js", "application/javascript", true },
        { ".css", "text/css", true },
        { ".svg", "image/svg+xml", true },
        { ".png", "image/png", false },
        { ".json", "application/json", true },
    };

    for (const auto& [ending, type, isText] : table)
        if (path.endsWith (ending))
            return isText ? juce::String (type) + utf8 : juce::String (type);

    return "application/octet-stream";
}

} // namespace quillbeat
