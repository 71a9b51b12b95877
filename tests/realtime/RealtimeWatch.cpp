#include "RealtimeWatch.h"

#include <dlfcn.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

// The functions below replace the C library's for the whole process: the
// dynamic linker binds every caller, shared libraries included, to the
// executable's definition first. Each forwards to the definition that comes
// next in the search order, and counts the call only when the calling thread
// has a watch open.

namespace
{
constinit thread_local RealtimeViolations* watched = nullptr;

void note (std::size_t RealtimeViolations::*counter, const char* function) noexcept
{
    if (auto* violations = watched)
    {
        ++(violations->*counter);

        if (violations->firstCall == nullptr)
            violations->firstCall = function;
    }
}

template <typename Function>
Function nextDefinition (const char* name, const char* version) noexcept
{
    auto* symbol = version == nullptr ? dlsym (RTLD_NEXT, name) : dlvsym (RTLD_NEXT, name, version);

    if (symbol == nullptr)
        std::abort();

    return reinterpret_cast<Function> (symbol);
}
} // namespace

ScopedRealtimeWatch::ScopedRealtimeWatch (RealtimeViolations& into) noexcept : previous (watched)
{
    watched = &into;
}

ScopedRealtimeWatch::~ScopedRealtimeWatch() { watched = previous; }

std::ostream& operator<< (std::ostream& out, const RealtimeViolations& v)
{
    return out << v.allocations << " allocations, " << v.deallocations << " deallocations, "
               << v.locks << " locks, " << v.blockingCalls << " blocking calls; first: "
               << (v.firstCall != nullptr ? v.firstCall : "none");
}

// `version` names the symbol version to forward to, for the functions the C
// library still carries an old binary-compatible variant of; a plain lookup
// might find the old one.
#define QUILLBEAT_INTERPOSE_VERSIONED(counter, version, result, name, parameters, arguments, ...)        \
    extern "C" result name parameters __VA_ARGS__                                                     \
    {                                                                                                 \
        static const auto next = nextDefinition<decltype (&::name)> (#name, version);                \
        note (&RealtimeViolations::counter, #name);                                                   \
        return next arguments;                                                                        \
    }

#define QUILLBEAT_INTERPOSE(counter, result, name, parameters, arguments, ...) \
    QUILLBEAT_INTERPOSE_VERSIONED (counter, nullptr, result, name, parameters, arguments, __VA_ARGS__)

QUILLBEAT_INTERPOSE (locks, int, pthread_mutex_lock, (pthread_mutex_t* m), (m), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_mutex_trylock, (pthread_mutex_t* m), (m), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_mutex_timedlock, (pthread_mutex_t* m, const timespec* t), (m, t), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_mutex_clocklock, (pthread_mutex_t* m, clockid_t c, const timespec* t), (m, c, t), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_rwlock_rdlock, (pthread_rwlock_t* l), (l), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_rwlock_wrlock, (pthread_rwlock_t* l), (l), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_rwlock_tryrdlock, (pthread_rwlock_t* l), (l), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_rwlock_trywrlock, (pthread_rwlock_t* l), (l), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_rwlock_timedrdlock, (pthread_rwlock_t* l, const timespec* t), (l, t), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_rwlock_timedwrlock, (pthread_rwlock_t* l, const timespec* t), (l, t), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_spin_lock, (pthread_spinlock_t* l), (l), noexcept)
QUILLBEAT_INTERPOSE (locks, int, pthread_spin_trylock, (pthread_spinlock_t* l), (l), noexcept)

QUILLBEAT_INTERPOSE_VERSIONED (blockingCalls, "GLIBC_2.3.2", int, pthread_cond_wait, (pthread_cond_t* c, pthread_mutex_t* m), (c, m))
QUILLBEAT_INTERPOSE_VERSIONED (blockingCalls, "GLIBC_2.3.2", int, pthread_cond_timedwait, (pthread_cond_t* c, pthread_mutex_t* m, const timespec* t), (c, m, t))
QUILLBEAT_INTERPOSE (blockingCalls, int, pthread_cond_clockwait, (pthread_cond_t* c, pthread_mutex_t* m, clockid_t k, const timespec* t), (c, m, k, t))
QUILLBEAT_INTERPOSE (blockingCalls, int, sem_wait, (sem_t* s), (s))
QUILLBEAT_INTERPOSE (blockingCalls, int, sem_timedwait, (sem_t* s, const timespec* t), (s, t))
QUILLBEAT_INTERPOSE (blockingCalls, int, sem_clockwait, (sem_t* s, clockid_t k, const timespec* t), (s, k, t))
QUILLBEAT_INTERPOSE (blockingCalls, int, pthread_join, (pthread_t t, void** r), (t, r))
QUILLBEAT_INTERPOSE (blockingCalls, int, nanosleep, (const timespec* t, timespec* r), (t, r))
QUILLBEAT_INTERPOSE (blockingCalls, int, clock_nanosleep, (clockid_t c, int f, const timespec* t, timespec* r), (c, f, t, r))
QUILLBEAT_INTERPOSE (blockingCalls, int, usleep, (useconds_t u), (u))
QUILLBEAT_INTERPOSE (blockingCalls, unsigned int, sleep, (unsigned int s), (s))
QUILLBEAT_INTERPOSE (blockingCalls, int, sched_yield, (), (), noexcept)
QUILLBEAT_INTERPOSE (blockingCalls, ssize_t, read, (int f, void* b, size_t n), (f, b, n))
QUILLBEAT_INTERPOSE (blockingCalls, ssize_t, write, (int f, const void* b, size_t n), (f, b, n))
QUILLBEAT_INTERPOSE (blockingCalls, int, poll, (pollfd* f, nfds_t n, int t), (f, n, t))
QUILLBEAT_INTERPOSE (blockingCalls, int, ppoll, (pollfd* f, nfds_t n, const timespec* t, const sigset_t* s), (f, n, t, s))
QUILLBEAT_INTERPOSE (blockingCalls, int, select, (int n, fd_set* r, fd_set* w, fd_set* e, timeval* t), (n, r, w, e, t))
QUILLBEAT_INTERPOSE (blockingCalls, int, epoll_wait, (int f, epoll_event* e, int n, int t), (f, e, n, t))

// The allocator goes to the C library's own entry points rather than through a
// symbol lookup, which may itself allocate.
extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void* __libc_memalign (size_t, size_t);
    void* __libc_valloc (size_t);
    void* __libc_pvalloc (size_t);
    void __libc_free (void*);

    void* malloc (size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "malloc");
        return __libc_malloc (size);
    }

    void* calloc (size_t count, size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "calloc");
        return __libc_calloc (count, size);
    }

    void* realloc (void* p, size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "realloc");
        return __libc_realloc (p, size);
    }

    void* memalign (size_t alignment, size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "memalign");
        return __libc_memalign (alignment, size);
    }

    void* aligned_alloc (size_t alignment, size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "aligned_alloc");
        return __libc_memalign (alignment, size);
    }

    int posix_memalign (void** out, size_t alignment, size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "posix_memalign");

        const auto words = alignment / sizeof (void*);

        if (alignment % sizeof (void*) != 0 || words == 0 || (words & (words - 1)) != 0)
            return EINVAL;

        auto* p = __libc_memalign (alignment, size);

        if (p == nullptr)
            return ENOMEM;

        *out = p;
        return 0;
    }

    void* valloc (size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "valloc");
        return __libc_valloc (size);
    }

    void* pvalloc (size_t size) noexcept
    {
        note (&RealtimeViolations::allocations, "pvalloc");
        return __libc_pvalloc (size);
    }

    void free (void* p) noexcept
    {
        if (p != nullptr)
            note (&RealtimeViolations::deallocations, "free");

        __libc_free (p);
    }
}
