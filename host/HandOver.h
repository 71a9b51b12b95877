#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace quillbeat::host
{

// Hands the newest of a series of objects from the message thread to the
// audio thread without a lock: the message thread owns them all and deletes
// one only when it is neither the newest nor the one the audio thread said it
// is using. The audio thread never allocates, frees or waits for the message
// thread; an old object lives on until the next send() after the audio thread
// has moved on from it.
template <typename T>
class HandOver
{
public:
    // Message thread: from the audio thread's next current() on, `next` is used.
    void send (std::unique_ptr<T> next)
    {
        latest.store (next.get());
        owned.push_back (std::move (next));

        // Read after the store above: an audio thread that has not yet said it
        // uses an older one will see the new one when it checks again.
        const auto* const used = inUse.load();
        owned.erase (std::remove_if (owned.begin(), owned.end(),
                                     [&] (const auto& t) { return t.get() != latest.load() && t.get() != used; }),
                     owned.end());
    }

    // Audio thread: the object to use until the next call. Nothing before the first send().
    T* current() noexcept
    {
        for (auto* t = latest.load();;)
        {
            inUse.store (t);
            if (auto* again = latest.load(); again != t)
                t = again;  // replaced meanwhile; the one just marked may already be gone
            else
                return t;
        }
    }

    // Message thread: the newest object sent, to prepare while no audio runs.
    T* newest() const noexcept { return latest.load(); }

    // Message thread: how many objects are kept alive (the newest, maybe the one in use).
    size_t kept() const noexcept { return owned.size(); }

private:
    std::vector<std::unique_ptr<T>> owned;
    std::atomic<T*> latest { nullptr }, inUse { nullptr };
};

} // namespace quillbeat::host
