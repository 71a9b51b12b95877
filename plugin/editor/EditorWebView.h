#pragma once

#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>

// The framework's browser view, with a say over its network-error page: the
// handler returns true to let the engine show its own, false when it did
// something else instead.
class EditorWebView final : public juce::WebBrowserComponent
{
public:
    using NetworkErrorHandler = std::function<bool()>;

    EditorWebView (const Options& options, NetworkErrorHandler handler)
        : juce::WebBrowserComponent (options), onNetworkError (std::move (handler))
    {
    }

    bool pageLoadHadNetworkError (const juce::String&) override
    {
        return onNetworkError == nullptr || onNetworkError();
    }

private:
    NetworkErrorHandler onNetworkError;
};
