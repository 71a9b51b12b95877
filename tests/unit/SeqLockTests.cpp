#include <processor/SeqLock.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

namespace
{
// A reader never sees half of one write and half of another, nor an older
// write after a newer one.
TEST (SeqLock, NeverHandsOutAMixOfTwoWrites)
{
    struct Marks
    {
        std::uint64_t words[24];
    };

    const auto marked = [] (std::uint64_t n)
    {
        Marks m;
        std::fill (std::begin (m.words), std::end (m.words), n);
        return m;
    };

    constexpr std::uint64_t lastWrite = 200000;
    quillbeat::SeqLock<Marks> snapshot (marked (0));
    std::atomic<bool> done { false };

    std::thread writer ([&]
    {
        for (std::uint64_t n = 1; n <= lastWrite; ++n)
            snapshot.write (marked (n));
        done.store (true);
    });

    std::uint64_t lastSeen = 0, torn = 0, backwards = 0;
    for (bool finished = false; ! finished;)
    {
        finished = done.load();
        const auto copy = snapshot.tryRead();
        if (! copy.has_value())
            continue;

        const auto& read = *copy;
        torn += std::any_of (std::begin (read.words), std::end (read.words),
                             [&] (std::uint64_t w) { return w != read.words[0]; }) ? 1u : 0u;
        backwards += read.words[0] < lastSeen ? 1u : 0u;
        lastSeen = read.words[0];
    }

    writer.join();
    EXPECT_EQ (torn, 0u);
    EXPECT_EQ (backwards, 0u);
    EXPECT_EQ (lastSeen, lastWrite);
}
} // namespace
