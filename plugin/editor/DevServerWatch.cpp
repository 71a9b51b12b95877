#include "DevServerWatch.h"

namespace quillbeat
{

namespace
{
    constexpr int checkIntervalMs = 250;
    constexpr int connectTimeoutMs = 200;
} // namespace

DevServerWatch::DevServerWatch (int portToWatch)
    : juce::Thread ("Quillbeat dev server watch"), port (portToWatch)
{
    startThread (juce::Thread::Priority::low);
}

DevServerWatch::~DevServerWatch()
{
    signalThreadShouldExit();
    notify();
    stopThread (2 * connectTimeoutMs + 1000);
}

void DevServerWatch::run()
{
    while (! threadShouldExit())
    {
        // Only a connection, no request: a refused one comes back at once
        // from the loopback device, and a live server just sees it close.
        juce::StreamingSocket socket;
        const auto answered = socket.connect ("127.0.0.1", port, connectTimeoutMs);
        socket.close();

        answer = answered ? Answer::answering : Answer::silent;
        wait (checkIntervalMs);
    }
}

} // namespace quillbeat
