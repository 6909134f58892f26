// The seam over POSIX. Critical sections are recursive futex locks; the
// fault guard is a signal handler that rewrites the interrupted instruction
// pointer; the debugger output, absent on this system, is the debug trace.
#include <iconv.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/backend.h"

#if defined(__SANITIZE_ADDRESS__)
#define HVB_POSIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HVB_POSIX_ASAN 1
#endif
#endif
#if defined(HVB_POSIX_ASAN)
#include <sanitizer/asan_interface.h>
#define HVB_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define HVB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define HVB_POISON(p, n) ((void)(p), (void)(n))
#define HVB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace plat {

// Freed regions are kept for reuse, up to kCacheBytes in all: unmapping
// flushes the TLB on every processor, and on the heap's mixed load that
// flush, not the work, was most of the cost of a large block. A region is
// handed out again only for the same size and is zeroed first, so a caller
// sees what a fresh mapping would show. Under AddressSanitizer a cached region
// stays poisoned, so a use after release is still reported although the pages
// are mapped. HVB_PAGE_CACHE=0 in the environment turns the cache off.
namespace {

constexpr uint32_t kPageSize = 4096;
constexpr uint64_t kCacheBytes = 64u << 20;
constexpr uint32_t kCacheSlots = 256;

struct CachedRegion {
    void* address;
    uint32_t size;
};

// Oldest first; the newest region of a size is taken, as its pages are the
// likeliest still to be resident and in cache.
struct PageCache {
    CriticalSection lock;
    CachedRegion regions[kCacheSlots];
    uint32_t count;
    uint64_t bytes;
};
// Zero-initialised storage is a free lock and an empty cache, usable before
// any constructor runs.
PageCache g_page_cache;

bool PageCacheEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("HVB_PAGE_CACHE");
        return value == nullptr || std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

uint32_t PageRound(uint32_t size) { return (size + kPageSize - 1) & ~(kPageSize - 1); }

// Under AddressSanitizer each mapping is followed by a page of its own that
// no one may touch: the heap carves blocks from a segment's end, and an
// overrun past it would otherwise land unreported in whatever was mapped
// next. Mapped pages get a page without access (under qemu's emulation the
// sanitizer's shadow does not cover every address a mapping may get, and
// poisoning there stops the program); the fuzzer's, which come from its
// allocator, a poisoned one.
#if defined(HVB_POSIX_ASAN)
constexpr uint32_t kGuard = kPageSize;
#else
constexpr uint32_t kGuard = 0;
#endif

#if defined(HVB_FUZZING)
// Under the fuzzer the pages come from the sanitizer's allocator, so that its
// limit on one allocation covers the heap's segments too and a segment the
// heap loses is reported as a leak.
void* Map(uint32_t size) {
    const uint32_t rounded = PageRound(size);
    void* p = nullptr;
    if (rounded < size || rounded > 0xFFFFFFFFu - kGuard || posix_memalign(&p, 65536, rounded + kGuard) != 0) {
        return nullptr;
    }
    std::memset(p, 0, rounded);
    HVB_POISON(static_cast<char*>(p) + rounded, kGuard);
    return p;
}

int Unmap(void* address, uint32_t size) {
    HVB_UNPOISON(static_cast<char*>(address) + PageRound(size), kGuard);
    std::free(address);
    return 1;
}
#else
void* Map(uint32_t size) {
    const uint32_t rounded = PageRound(size);
    if (kGuard != 0 && (rounded < size || rounded > 0xFFFFFFFFu - kGuard)) return nullptr;
    void* p = mmap(nullptr, kGuard != 0 ? rounded + kGuard : size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
    if (p == MAP_FAILED) return nullptr;
    if (kGuard != 0 && mprotect(static_cast<char*>(p) + rounded, kGuard, PROT_NONE) != 0) {
        munmap(p, rounded + kGuard);
        return nullptr;
    }
    return p;
}

int Unmap(void* address, uint32_t size) {
    return munmap(address, kGuard != 0 ? PageRound(size) + kGuard : size) == 0 ? 1 : 0;
}
#endif

int UnmapCached(const CachedRegion& region) {
    HVB_UNPOISON(region.address, region.size);
    return Unmap(region.address, region.size);
}

void RemoveRegion(uint32_t index) {
    PageCache& cache = g_page_cache;
    cache.bytes -= cache.regions[index].size;
    --cache.count;
    std::memmove(&cache.regions[index], &cache.regions[index + 1], (cache.count - index) * sizeof(CachedRegion));
}

}  // namespace

#if defined(HVB_FUZZING)
namespace {
std::atomic<uint32_t> g_largest_page_allocation{0xFFFFFFFFu};
}  // namespace

void SetLargestPageAllocation(uint32_t size) { g_largest_page_allocation = size; }
#endif

void* PageAllocate(uint32_t size) {
#if defined(HVB_FUZZING)
    if (size > g_largest_page_allocation) return nullptr;
#endif
    const uint32_t rounded = PageRound(size);
    if (rounded == 0 || rounded > kCacheBytes || !PageCacheEnabled()) return Map(size);
    PageCache& cache = g_page_cache;
    void* p = nullptr;
    EnterCriticalSection(&cache.lock);
    for (uint32_t i = cache.count; i-- > 0;) {
        if (cache.regions[i].size == rounded) {
            p = cache.regions[i].address;
            RemoveRegion(i);
            break;
        }
    }
    LeaveCriticalSection(&cache.lock);
    if (p == nullptr) return Map(size);
    HVB_UNPOISON(p, rounded);
    // Cheaper than MADV_DONTNEED, which flushes the TLB as unmapping does.
    std::memset(p, 0, rounded);
    return p;
}

int PageRelease(void* address, uint32_t size) {
    const uint32_t rounded = PageRound(size);
    const CachedRegion region = {address, rounded};
    if (address == nullptr || (reinterpret_cast<uintptr_t>(address) & (kPageSize - 1)) != 0 || rounded == 0 ||
        rounded > kCacheBytes || !PageCacheEnabled()) {
        return Unmap(address, size);
    }
    HVB_POISON(address, rounded);
    // What makes room is unmapped after the lock is left.
    CachedRegion evicted[kCacheSlots];
    uint32_t evicted_count = 0;
    PageCache& cache = g_page_cache;
    EnterCriticalSection(&cache.lock);
    while (cache.count == kCacheSlots || cache.bytes + rounded > kCacheBytes) {
        evicted[evicted_count++] = cache.regions[0];
        RemoveRegion(0);
    }
    cache.regions[cache.count++] = region;
    cache.bytes += rounded;
    LeaveCriticalSection(&cache.lock);
    for (uint32_t i = 0; i < evicted_count; ++i) UnmapCached(evicted[i]);
    return 1;
}

// A recursive futex lock rather than a pthread mutex: the heap takes it on
// every call, and an uncontended enter and leave here is one atomic
// instruction each with no call into the C library. State 0 is free, 1 held,
// 2 held with possible waiters.
namespace {

struct Lock {
    int32_t state;
    const void* owner;  // the owner's thread tag, read by other threads
    uint32_t depth;     // touched by the owner only
};
static_assert(sizeof(Lock) <= sizeof(CriticalSection));

// Its address tells threads apart without a call.
thread_local char t_thread_tag;

Lock* Native(CriticalSection* cs) { return reinterpret_cast<Lock*>(cs->opaque); }

// While the process has one thread no one else can hold or wait for a lock,
// so plain stores do; the heap takes a lock on every call, and a locked
// instruction costs tens of cycles. The C library clears the flag before a
// second thread starts, and starting it orders these stores before anything
// that thread does, so a lock held across the start is seen held.
#if __has_include(<sys/single_threaded.h>)
bool SingleThreaded() { return __libc_single_threaded != 0; }
#else
bool SingleThreaded() { return false; }
#endif

// Out of line, so that the uncontended path keeps its few registers.
__attribute__((noinline)) void FutexWake(int32_t* word) {
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}
__attribute__((noinline)) void WaitForLock(int32_t* state, int32_t seen) {
    if (seen != 2) seen = __atomic_exchange_n(state, 2, __ATOMIC_ACQUIRE);
    while (seen != 0) {
        syscall(SYS_futex, state, FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
        seen = __atomic_exchange_n(state, 2, __ATOMIC_ACQUIRE);
    }
}

}  // namespace

void InitializeCriticalSection(CriticalSection* cs) {
    Lock* lock = Native(cs);
    lock->state = 0;
    lock->owner = nullptr;
    lock->depth = 0;
}
void DeleteCriticalSection(CriticalSection*) {}

void EnterCriticalSection(CriticalSection* cs) {
    Lock* lock = Native(cs);
    const void* self = &t_thread_tag;
    if (__atomic_load_n(&lock->owner, __ATOMIC_RELAXED) == self) {
        ++lock->depth;
        return;
    }
    if (SingleThreaded()) {
        lock->state = 1;
        lock->owner = self;
        lock->depth = 1;
        return;
    }
    int32_t seen = 0;
    if (!__atomic_compare_exchange_n(&lock->state, &seen, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
        WaitForLock(&lock->state, seen);
    }
    __atomic_store_n(&lock->owner, self, __ATOMIC_RELAXED);
    lock->depth = 1;
}

void LeaveCriticalSection(CriticalSection* cs) {
    Lock* lock = Native(cs);
    if (--lock->depth != 0) return;
    __atomic_store_n(&lock->owner, nullptr, __ATOMIC_RELAXED);
    if (SingleThreaded()) {
        lock->state = 0;
        return;
    }
    if (__atomic_exchange_n(&lock->state, 0, __ATOMIC_RELEASE) == 2) FutexWake(&lock->state);
}

uint32_t TlsAlloc() {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return TlsOutOfIndexes;
    return static_cast<uint32_t>(key);
}
int TlsFree(uint32_t index) { return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0; }
void* TlsGetValue(uint32_t index) { return pthread_getspecific(static_cast<pthread_key_t>(index)); }
int TlsSetValue(uint32_t index, void* value) {
    return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0;
}

int32_t AtomicIncrement(volatile int32_t* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
int32_t AtomicDecrement(volatile int32_t* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

namespace {

struct FaultGuard {
    uintptr_t begin, end, resume;
    pthread_t thread;
};
// Written only while no guard is armed, so the handler sees a whole one.
FaultGuard g_guard;
volatile sig_atomic_t g_armed = 0;
constexpr int kFaultSignals[] = {SIGILL, SIGSEGV, SIGBUS, SIGFPE};
constexpr size_t kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];
struct sigaction g_previous[kSignalCount];

greg_t& InstructionPointer(ucontext_t* uc) {
#if defined(__i386__)
    return uc->uc_mcontext.gregs[REG_EIP];
#else
    return uc->uc_mcontext.gregs[REG_RIP];
#endif
}

// A fault that is not the probe's goes where it would have gone unarmed.
void PassOn(int signal, siginfo_t* info, void* context) {
    size_t i = 0;
    while (kFaultSignals[i] != signal) ++i;
    const struct sigaction& previous = g_previous[i];
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
    } else {
        // The faulting instruction runs again and meets the default action.
        sigaction(signal, &previous, nullptr);
    }
}

void ResumeOnFault(int signal, siginfo_t* info, void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
    const auto at = static_cast<uintptr_t>(InstructionPointer(uc));
    if (g_armed && pthread_equal(pthread_self(), g_guard.thread) && at >= g_guard.begin && at < g_guard.end) {
        InstructionPointer(uc) = static_cast<greg_t>(g_guard.resume);
        return;
    }
    PassOn(signal, info, context);
}

}  // namespace

void ArmFaultResume(const void* begin, const void* end, const void* resume) {
    g_guard = {reinterpret_cast<uintptr_t>(begin), reinterpret_cast<uintptr_t>(end), reinterpret_cast<uintptr_t>(resume),
               pthread_self()};
    struct sigaction action {};
    action.sa_sigaction = ResumeOnFault;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &action, &g_previous[i]);
    g_armed = 1;
}

void DisarmFaultResume() {
    g_armed = 0;
    for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &g_previous[i], nullptr);
}

uint32_t BeginTimerPeriod(uint32_t) { return 0; }

namespace backend {

void DebuggerOutput(const char* text) { DebugTrace(text); }

namespace {

// The question is in CP932; a terminal here speaks UTF-8.
std::string ToTerminal(const char* text) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    size_t in_left = std::strlen(text);
    char* in = const_cast<char*>(text);
    char buffer[512];
    while (in_left > 0) {
        char* outp = buffer;
        size_t out_left = sizeof buffer;
        size_t r = iconv(cd, &in, &in_left, &outp, &out_left);
        out.append(buffer, static_cast<size_t>(outp - buffer));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            out.push_back('?');
            ++in;
            --in_left;
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

// Asked on the controlling terminal; without one there is nobody to ask, and
// the answer is No (fail now, do not retry).
Answer AskYesNoCancel(const char* text, const char* caption) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) return Answer::No;
    std::fprintf(tty, "%s\n%s\n[y]es / [n]o / [c]ancel: ", ToTerminal(caption).c_str(), ToTerminal(text).c_str());
    std::fflush(tty);
    char line[16] = {};
    Answer answer = Answer::No;
    if (std::fgets(line, sizeof line, tty) != nullptr) {
        if (line[0] == 'y' || line[0] == 'Y') answer = Answer::Yes;
        else if (line[0] == 'c' || line[0] == 'C') answer = Answer::Cancel;
    }
    std::fclose(tty);
    return answer;
}

}  // namespace backend
}  // namespace plat
