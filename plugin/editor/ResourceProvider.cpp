#include "ResourceProvider.h"

#include "MimeTypes.h"
#include "NoPagePage.h"
#include "WebRootPath.h"

#include <bridge/TransportMessage.h>
#include <processor/QuillbeatProcessor.h>

#include <limits>

namespace quillbeat
{

namespace
{
    std::vector<std::byte> bytesOf (const juce::String& text)
    {
        const auto* begin = reinterpret_cast<const std::byte*> (text.toRawUTF8());
        return { begin, begin + text.getNumBytesAsUTF8() };
    }

    // The whole file, or nothing if it cannot be read in full or is empty.
    std::optional<std::vector<std::byte>> readWholeFile (const juce::File& file)
    {
        juce::FileInputStream stream (file);

        if (! stream.openedOk())
            return std::nullopt;

        const auto size = stream.getTotalLength();

        if (size <= 0 || size > std::numeric_limits<int>::max())
            return std::nullopt;

        std::vector<std::byte> data ((size_t) size);

        if (stream.read (data.data(), (int) size) != (int) size)
            return std::nullopt;

        return data;
    }

    std::optional<juce::WebBrowserComponent::Resource> serveFile (const juce::File& webRoot, juce::String path)
    {
        if (path.isEmpty() || path == "/")
            path = "/index.html";

        if (path.startsWithChar ('/'))
            path = path.substring (1);

        const auto file = resolveInsideWebRoot (webRoot, path);

        if (! file.has_value() || ! file->existsAsFile())
            return std::nullopt;

        auto data = readWholeFile (*file);

        if (! data.has_value())
            return std::nullopt;

        return juce::WebBrowserComponent::Resource { std::move (*data), contentTypeForPath (path) };
    }
} // namespace

std::optional<juce::WebBrowserComponent::Resource> serveResource (const juce::File& webRoot,
                                                                  const QuillbeatProcessor& processor,
                                                                  const juce::String& path)
{
    try
    {
        if (path.contains ("transport.js") || path.contains ("api/transport"))
        {
            const auto script = buildTransportScript (processor.readTransport(), TransportScriptVariant::resource);
            return juce::WebBrowserComponent::Resource { bytesOf (script), "application/javascript" };
        }

        const auto isStartPage = path.isEmpty() || path == "/" || path == "/index.html";

        if (isStartPage && ! webRoot.getChildFile ("index.html").existsAsFile())
            return juce::WebBrowserComponent::Resource { bytesOf (noPagePageHtml (webRoot)), htmlContentType };

        return serveFile (webRoot, path);
    }
    catch (...)
    {
        return std::nullopt;
    }
}

} // namespace quillbeat
