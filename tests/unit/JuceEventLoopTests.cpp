// The framework's Linux event loop as a host sees it: one round calls every
// fd callback whose descriptor poll found ready. A callback may release
// whatever owns another one in the same round (a host releasing a plug-in
// whose pipes are ready), so a callback unregistered by then must not run.

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <array>
#include <ostream>
#include <string>
#include <unistd.h>

namespace juce::detail
{
// The framework's own step of its message loop: one poll round.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce::detail

namespace
{

struct Pipe
{
    Pipe()
    {
        if (::pipe (ends.data()) != 0)
            ends = { -1, -1 };
    }

    ~Pipe()
    {
        for (auto fd : ends)
            if (fd >= 0)
                ::close (fd);
    }

    Pipe (const Pipe&) = delete;
    Pipe& operator= (const Pipe&) = delete;

    bool makeReady() const { return ::write (ends[1], "x", 1) == 1; }

    std::array<int, 2> ends {};
};

// What the callback that runs first does to the other one.
enum class Release
{
    nothing,
    unregister,
    unregisterAndReuseItsNumber   // a new, idle descriptor gets the same number and a callback of its own
};

struct ReleaseCase
{
    const char* name;
    Release release;
    int expectedCallsOfTheOther;
};

void PrintTo (const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class JuceEventLoop : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P (JuceEventLoop, ACallbackReleasedEarlierInTheRoundIsNotCalled)
{
    const auto& param = GetParam();

    std::array<Pipe, 2> pipes;
    Pipe replacement;
    ASSERT_GE (pipes[0].ends[0], 0);
    ASSERT_GE (pipes[1].ends[0], 0);
    ASSERT_GE (replacement.ends[0], 0);

    // poll orders the round by descriptor, so either may run first; the first
    // acts on the other, whichever that is.
    std::array<int, 2> calls {};
    int first = -1, replacementCalls = 0;
    std::array<bool, 2> registered { true, true };

    for (int i = 0; i < 2; ++i)
    {
        juce::LinuxEventLoop::registerFdCallback (pipes[(size_t) i].ends[0], [&, i] (int)
        {
            ++calls[(size_t) i];

            if (first >= 0)
                return;

            first = i;
            const auto other = (size_t) (1 - i);
            const auto otherFd = pipes[other].ends[0];

            if (param.release == Release::nothing)
                return;

            juce::LinuxEventLoop::unregisterFdCallback (otherFd);
            registered[other] = false;

            if (param.release == Release::unregisterAndReuseItsNumber)
            {
                // The other pipe's read end is closed and its number now names
                // an empty pipe, as when a descriptor is closed and reopened.
                ASSERT_EQ (::dup2 (replacement.ends[0], otherFd), otherFd);
                juce::LinuxEventLoop::registerFdCallback (otherFd, [&] (int) { ++replacementCalls; });
                registered[other] = true;
            }
        });
    }

    ASSERT_TRUE (pipes[0].makeReady());
    ASSERT_TRUE (pipes[1].makeReady());

    juce::detail::dispatchNextMessageOnSystemQueue (true);

    for (int i = 0; i < 2; ++i)
        if (registered[(size_t) i])
            juce::LinuxEventLoop::unregisterFdCallback (pipes[(size_t) i].ends[0]);

    ASSERT_GE (first, 0) << "neither callback ran";
    EXPECT_EQ (calls[(size_t) first], 1);
    EXPECT_EQ (calls[(size_t) (1 - first)], param.expectedCallsOfTheOther);
    EXPECT_EQ (replacementCalls, 0) << "a callback ran for a descriptor with nothing to read";
}

INSTANTIATE_TEST_SUITE_P (Rounds, JuceEventLoop,
    ::testing::Values (ReleaseCase { "BothStayRegistered", Release::nothing, 1 },
                       ReleaseCase { "OtherUnregistered", Release::unregister, 0 },
                       ReleaseCase { "OtherUnregisteredAndItsNumberReused", Release::unregisterAndReuseItsNumber, 0 }),
    [] (const auto& info) { return std::string (info.param.name); });

} // namespace
