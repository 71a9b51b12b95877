#include "MimeTypes.h"

namespace quillbeat
{

juce::String mimeTypeForPath (const juce::String& path)
{
    static constexpr const char* table[][2] = {
        { ".html", "text/html" },
        { ".js", "application/javascript" },
        { ".css", "text/css" },
        { ".svg", "image/svg+xml" },
        { ".png", "image/png" },
        { ".json", "application/json" },
    };

    for (const auto& [ending, type] : table)
        if (path.endsWith (ending))
            return type;

    return "application/octet-stream";
}

} // namespace quillbeat
