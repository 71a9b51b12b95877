#pragma once

#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>

// The framework's browser view, with a say over its network-error page (the
// handler returns true to let the engine show its own, false when it did
// something else instead) and word of an engine that could not start.
class EditorWebView final : public juce::WebBrowserComponent
{
public:
    using NetworkErrorHandler = std::function<bool()>;
    using EngineFailureHandler = std::function<void()>;

    EditorWebView (const Options& options, NetworkErrorHandler networkError, EngineFailureHandler engineFailure)
        : juce::WebBrowserComponent (options),
          onNetworkError (std::move (networkError)),
          onEngineFailure (std::move (engineFailure))
    {
    }

    bool pageLoadHadNetworkError (const juce::String&) override
    {
        return onNetworkError == nullptr || onNetworkError();
    }

    void browserEngineFailed() override
    {
        if (onEngineFailure != nullptr)
            onEngineFailure();
    }

private:
    NetworkErrorHandler onNetworkError;
    EngineFailureHandler onEngineFailure;
};
