#pragma once

#include <juce_core/juce_core.h>

#include <atomic>

namespace quillbeat
{

// Tells whether a development server accepts connections on a local port,
// checked a few times a second on a thread of its own so the message thread
// never waits on the network.
class DevServerWatch final : private juce::Thread
{
public:
    enum class Answer
    {
        unknown,
        answering,
        silent
    };

    explicit DevServerWatch (int port);
    ~DevServerWatch() override;

    Answer latest() const noexcept { return answer.load(); }

private:
    void run() override;

    const int port;
    std::atomic<Answer> answer { Answer::unknown };
};

} // namespace quillbeat
