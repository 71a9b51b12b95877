#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quillbeat::host
{

// One writer publishes a small trivially copyable value; readers on a
// real-time thread copy it without locking or waiting. A read that overlaps a
// write fails, and the reader carries on with its last good copy. The value
// travels as atomic words under a sequence counter, so a torn read is
// detected rather than being a data race. Release stores and acquire loads of
// the words (plain moves on x86) order them against the counter without
// fences, which the thread sanitizer cannot follow.
template <typename T>
class SequencedSnapshot
{
    static_assert (std::is_trivially_copyable_v<T>);

public:
    explicit SequencedSnapshot (const T& initial = {}) noexcept { write (initial); }

    // From one thread at a time.
    void write (const T& value) noexcept
    {
        Words words {};
        std::memcpy (words.data(), &value, sizeof (T));

        const auto before = sequence.load (std::memory_order_relaxed);
        sequence.store (before + 1, std::memory_order_relaxed);   // odd: writing

        // A reader that sees any of these words also sees the odd count.
        for (size_t i = 0; i < numWords; ++i)
            stored[i].store (words[i], std::memory_order_release);

        sequence.store (before + 2, std::memory_order_release);
    }

    // Any thread, wait-free. Leaves `destination` alone and returns false when
    // a write was under way.
    bool tryRead (T& destination) const noexcept
    {
        const auto before = sequence.load (std::memory_order_acquire);

        if ((before & 1) != 0)
            return false;

        Words words;
        for (size_t i = 0; i < numWords; ++i)
            words[i] = stored[i].load (std::memory_order_acquire);

        if (sequence.load (std::memory_order_relaxed) != before)
            return false;

        // T is trivially copyable, though perhaps not trivially constructible.
        std::memcpy (static_cast<void*> (&destination), words.data(), sizeof (T));
        return true;
    }

private:
    using Word = std::uint64_t;
    static constexpr size_t numWords = (sizeof (T) + sizeof (Word) - 1) / sizeof (Word);
    using Words = std::array<Word, numWords>;

    std::atomic<std::uint32_t> sequence { 0 };
    std::array<std::atomic<Word>, numWords> stored {};
};

} // namespace quillbeat::host
