#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace quillbeat
{

// The existing file a request names inside the web root, with links resolved,
// or nothing when the path could lead anywhere else: parent-folder or empty
// components, absolute paths, drive letters, backslashes, control characters,
// or a link (file or folder) that resolves outside the root.
std::optional<juce::File> resolveInsideWebRoot (const juce::File& webRoot, const juce::String& relativePath);

} // namespace quillbeat
