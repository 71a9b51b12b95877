#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace quillbeat
{

// A value published by one writer and read consistently by any number of
// readers, without locks and without the writer ever waiting: a sequence
// counter that is odd while a write is under way. Readers copy the value and
// retry when the counter says it changed under them.
//
// The value is held as atomic words, so no reader ever races a plain memory
// access. The words are stored with release order and loaded with acquire
// order: a reader that sees any word of a newer write is guaranteed to see the
// counter moved on, so it cannot accept a mix of two writes. On x86 these are
// plain moves; there are no fences.
template <typename Value>
class SeqLock
{
    static_assert (std::is_trivially_copyable_v<Value>);

public:
    explicit SeqLock (const Value& initial = {}) noexcept { write (initial); }

    // One writer only. Never blocks, never allocates.
    void write (const Value& value) noexcept
    {
        const auto s = sequence.load (std::memory_order_relaxed);
        sequence.store (s + 1, std::memory_order_relaxed);
        storeWords (reinterpret_cast<const unsigned char*> (&value), std::make_index_sequence<wordCount>());
        sequence.store (s + 2, std::memory_order_release);
    }

    // One attempt: the value, or nothing if a write overlapped the copy.
    std::optional<Value> tryRead() const noexcept
    {
        const auto before = sequence.load (std::memory_order_acquire);

        if ((before & 1u) != 0)
            return std::nullopt;

        Words copy;
        for (size_t i = 0; i < wordCount; ++i)
            copy[i] = words[i].load (std::memory_order_acquire);

        if (sequence.load (std::memory_order_relaxed) != before)
            return std::nullopt;

        // Trivially copyable, so its bytes make the value (the cast tells the
        // compiler so for types with member initialisers).
        Value value;
        std::memcpy (static_cast<void*> (&value), copy.data(), sizeof (Value));
        return value;
    }

    // Retries until a copy is whole. A write takes a few dozen nanoseconds,
    // so this nearly always succeeds at once; should the writer be preempted
    // mid-write, the reader gives up its time slice rather than spin.
    Value read() const noexcept
    {
        for (int attempt = 0;; ++attempt)
        {
            if (auto value = tryRead())
                return *value;

            if (attempt >= 64)
                std::this_thread::yield();
        }
    }

private:
    static constexpr size_t wordCount = (sizeof (Value) + sizeof (std::uint64_t) - 1) / sizeof (std::uint64_t);
    using Words = std::array<std::uint64_t, wordCount>;

    // Word `index` of the value's bytes; the last may be partly padding.
    template <size_t index>
    static std::uint64_t wordAt (const unsigned char* bytes) noexcept
    {
        constexpr auto offset = index * sizeof (std::uint64_t);
        constexpr auto length = std::min (sizeof (std::uint64_t), sizeof (Value) - offset);
        std::uint64_t word = 0;
        std::memcpy (&word, bytes + offset, length);
        return word;
    }

    // Unrolled at compile time: one load and one store a word, as this runs
    // for every audio block.
    template <size_t... index>
    void storeWords (const unsigned char* bytes, std::index_sequence<index...>) noexcept
    {
        (words[index].store (wordAt<index> (bytes), std::memory_order_release), ...);
    }

    std::atomic<std::uint32_t> sequence { 0 };
    std::array<std::atomic<std::uint64_t>, wordCount> words {};

    static_assert (std::atomic<std::uint64_t>::is_always_lock_free);
};

} // namespace quillbeat
