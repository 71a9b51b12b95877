#include "WebRootPath.h"

#include <filesystem>
#include <string>

namespace quillbeat
{

namespace
{
    namespace fs = std::filesystem;

    fs::path toPath (const juce::File& file)
    {
        const auto* utf8 = file.getFullPathName().toRawUTF8();
        return fs::path (std::u8string (reinterpret_cast<const char8_t*> (utf8)));
    }

    juce::File toFile (const fs::path& path)
    {
        const auto utf8 = path.u8string();
        return juce::File (juce::String::fromUTF8 (reinterpret_cast<const char*> (utf8.data()), (int) utf8.size()));
    }

    // Rejects anything that is not a plain, forward-slash path of named parts.
    bool isPlainRelativePath (const juce::String& path)
    {
        if (path.isEmpty())
            return false;

        for (auto p = path.getCharPointer(); ! p.isEmpty(); ++p)
        {
            const auto c = *p;

            // Control characters, backslash separators, drive letters and
            // Windows stream names; "~" would name the home folder.
            if (c < 0x20 || c == 0x7f || c == '\\' || c == ':')
                return false;
        }

        if (path.startsWithChar ('~'))
            return false;

        for (const auto& part : juce::StringArray::fromTokens (path, "/", {}))
            if (part.isEmpty() || part == "..")
                return false;

        return true;
    }
} // namespace

std::optional<juce::File> resolveInsideWebRoot (const juce::File& webRoot, const juce::String& relativePath)
{
    if (! isPlainRelativePath (relativePath) || juce::File::isAbsolutePath (relativePath))
        return std::nullopt;

    std::error_code error;
    const auto root = fs::canonical (toPath (webRoot), error);

    if (error)
        return std::nullopt;

    const auto target = fs::canonical (toPath (webRoot.getChildFile (relativePath)), error);

    if (error)
        return std::nullopt;

    // Inside means: the resolved target lies strictly below the resolved root.
    const auto inside = target.lexically_relative (root);

    if (inside.empty() || *inside.begin() == ".." || *inside.begin() == ".")
        return std::nullopt;

    return toFile (target);
}

} // namespace quillbeat
