#pragma once

// The host side of a plug-in editor on Linux, as the SDK-level test host
// provides it: a frame with the run loop the plug-in registers on, and an X11
// window to embed into. The GUI interface identifiers are defined once, in
// Vst3EditorHost.cpp.

#include "Vst3Host.h"

#include <pluginterfaces/gui/iplugview.h>

#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace vst3host
{
using Clock = std::chrono::steady_clock;

// The host side of an editor window: the frame the view can ask to resize,
// and the run loop on which the plug-in registers its file descriptors and
// timers. runFor() is the host's event loop.
class HostFrame final : public IPlugFrame, public Linux::IRunLoop
{
public:
    tresult PLUGIN_API queryInterface (const TUID queryIid, void** obj) override
    {
        QUERY_INTERFACE (queryIid, obj, FUnknown::iid, IPlugFrame)
        QUERY_INTERFACE (queryIid, obj, IPlugFrame::iid, IPlugFrame)
        QUERY_INTERFACE (queryIid, obj, Linux::IRunLoop::iid, Linux::IRunLoop)
        *obj = nullptr;
        return kNoInterface;
    }

    // Lives on the test's stack for the whole run.
    uint32 PLUGIN_API addRef() override { return 1000; }
    uint32 PLUGIN_API release() override { return 1000; }

    tresult PLUGIN_API resizeView (IPlugView* view, ViewRect* newSize) override
    {
        ++resizeRequests;
        return view->onSize (newSize);
    }

    tresult PLUGIN_API registerEventHandler (Linux::IEventHandler* handler, Linux::FileDescriptor fd) override
    {
        if (handler == nullptr)
            return kInvalidArgument;

        ++eventHandlerRegistrations;
        eventHandlers.push_back ({ IPtr<Linux::IEventHandler> (handler), fd });
        return kResultTrue;
    }

    tresult PLUGIN_API unregisterEventHandler (Linux::IEventHandler* handler) override
    {
        std::erase_if (eventHandlers, [handler] (const auto& h) { return h.handler == handler; });
        return kResultTrue;
    }

    tresult PLUGIN_API registerTimer (Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) override
    {
        if (handler == nullptr || milliseconds == 0)
            return kInvalidArgument;

        const auto interval = std::chrono::milliseconds (milliseconds);
        timers.push_back ({ IPtr<Linux::ITimerHandler> (handler), interval, Clock::now() + interval });
        return kResultTrue;
    }

    tresult PLUGIN_API unregisterTimer (Linux::ITimerHandler* handler) override
    {
        std::erase_if (timers, [handler] (const auto& t) { return t.handler == handler; });
        return kResultTrue;
    }

    void runFor (std::chrono::milliseconds duration)
    {
        const auto end = Clock::now() + duration;

        do
        {
            std::vector<pollfd> fds;
            for (const auto& h : eventHandlers)
                fds.push_back ({ h.fd, POLLIN, 0 });

            poll (fds.data(), fds.size(), 5);

            // Handlers may unregister themselves or others while called.
            const auto handlers = eventHandlers;
            for (size_t i = 0; i < fds.size(); ++i)
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                    handlers[i].handler->onFDIsSet (handlers[i].fd);

            const auto now = Clock::now();
            const auto due = timers;
            for (const auto& t : due)
                if (t.next <= now && isRegistered (t.handler))
                {
                    t.handler->onTimer();
                    ++timerCalls;
                    for (auto& registered : timers)
                        if (registered.handler == t.handler)
                            registered.next = now + registered.interval;
                }
        } while (Clock::now() < end);
    }

    bool hasRegistrations() const { return ! eventHandlers.empty() || ! timers.empty(); }

    int resizeRequests = 0;
    int timerCalls = 0;
    int eventHandlerRegistrations = 0;

private:
    struct EventHandler
    {
        IPtr<Linux::IEventHandler> handler;
        Linux::FileDescriptor fd;
    };

    struct Timer
    {
        IPtr<Linux::ITimerHandler> handler;
        std::chrono::milliseconds interval;
        Clock::time_point next;
    };

    bool isRegistered (const IPtr<Linux::ITimerHandler>& handler) const
    {
        return std::any_of (timers.begin(), timers.end(), [&] (const auto& t) { return t.handler == handler; });
    }

    std::vector<EventHandler> eventHandlers;
    std::vector<Timer> timers;
};

// A top-level X11 window for the plug-in to embed into.
class HostWindow
{
public:
    HostWindow()
        : display (XOpenDisplay (nullptr))
    {
        if (display == nullptr)
            return;

        // Like the toolkits DAWs are built on, the host reports X errors
        // instead of letting Xlib end the process. (A bare virtual display
        // has no window manager, so some of the atoms a plug-in asks about
        // do not exist there.)
        XSetErrorHandler ([] (Display*, XErrorEvent*) { ++errors; return 0; });

        window = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 900, 640, 0, 0, 0);
        XMapWindow (display, window);
        XFlush (display);
    }

    ~HostWindow()
    {
        if (display == nullptr)
            return;

        XDestroyWindow (display, window);
        XCloseDisplay (display);
    }

    void* handle() const { return reinterpret_cast<void*> (window); }

    static inline int errors = 0;
    bool valid() const { return display != nullptr; }

private:
    Display* display;
    Window window = 0;
};

} // namespace vst3host
