// SPDX-License-Identifier: GPL-3.0-or-later
// A guard for the audio callback, loaded into the unchanged program with LD_PRELOAD.
//
// It stands in for Pa_OpenStream and hands PortAudio a wrapper of the program's callback that
// marks, on the thread that runs it, the time the callback runs. It also stands in for the C
// library's allocation functions and for the functions that take a lock or wait; each of them
// counts a violation when it is called inside that mark, then does its usual work. Functions
// that the C library calls from inside itself without going through its exported names are
// not seen; everything the program and the libraries it calls (libstdc++'s operator new
// included) call by name is.
//
// It also times every callback against the duration of the buffer it fills (frames / 44100 s).
//
// At the end of the process it writes a report to the file named by QUILLFERN_RT_GUARD_REPORT:
//   callbacks N / frames N / render_thread TID / violations N / worst_share_ppm N /
//   worst_callback_ns N / worst_callback_frames N / then "NAME N" per function called inside
//   the callback.
// QUILLFERN_RT_GUARD_SELF_TEST=1 makes the wrapper allocate once inside the mark itself, so
// that a test can see that the guard is in place and counts.
#include <dlfcn.h>
#include <poll.h>
#include <portaudio.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
// glibc's own allocator, under the names it keeps for those who replace malloc.
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

// True on a thread while it runs the program's stream callback. Initial-exec, so that reading
// it never allocates (a lazily allocated thread-local would call malloc from inside malloc).
thread_local bool inCallback __attribute__((tls_model("initial-exec"))) = false;

struct Tally {
  std::atomic<const char*> name{nullptr};
  std::atomic<uint64_t> calls{0};
};
std::array<Tally, 32> violations;  // one per function seen, claimed in order of first call
std::atomic<uint64_t> callbacks{0};
std::atomic<uint64_t> frames{0};
std::atomic<pid_t> renderThread{0};
// The callback that took the largest share of its buffer's duration (render thread only).
uint64_t worstSharePpm = 0;
uint64_t worstCallbackNs = 0;
uint64_t worstCallbackFrames = 0;
constexpr uint64_t NanosecondsPerSecond = 1000000000;
constexpr uint64_t PartsPerMillion = 1000000;
constexpr uint64_t StreamSampleRate = 44100;
bool selfTest = false;
char reportPath[4096];

// Counts a call of `name` when it comes from inside the callback. Names are string literals,
// so one pointer stands for one function.
void note(const char* name) noexcept {
  if (!inCallback) return;
  for (Tally& tally : violations) {
    const char* claimed = nullptr;
    if (tally.name.compare_exchange_strong(claimed, name) || claimed == name) {
      tally.calls.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
}

// The definition that this library hides: the C library's (or PortAudio's).
void* nextDefinition(std::atomic<void*>& cache, const char* name) noexcept {
  void* function = cache.load(std::memory_order_acquire);
  if (function == nullptr) {
    function = dlsym(RTLD_NEXT, name);
    cache.store(function, std::memory_order_release);
  }
  return function;
}

struct GuardedStream {
  PaStreamCallback* callback;
  void* userData;
};
std::array<GuardedStream, 8> streams;
std::atomic<size_t> streamCount{0};

uint64_t monotonicNs() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // the vDSO: no system call, and outside the mark
  return static_cast<uint64_t>(now.tv_sec) * NanosecondsPerSecond +
         static_cast<uint64_t>(now.tv_nsec);
}

void recordDuration(uint64_t nanoseconds, unsigned long frameCount) noexcept {
  if (frameCount == 0) return;
  const uint64_t bufferNs = frameCount * NanosecondsPerSecond / StreamSampleRate;
  const uint64_t sharePpm = nanoseconds * PartsPerMillion / bufferNs;
  if (sharePpm <= worstSharePpm) return;
  worstSharePpm = sharePpm;
  worstCallbackNs = nanoseconds;
  worstCallbackFrames = frameCount;
}

int guardedCallback(const void* input, void* output, unsigned long frameCount,
                    const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                    void* userData) {
  const auto* stream = static_cast<const GuardedStream*>(userData);
  pid_t unset = 0;
  renderThread.compare_exchange_strong(unset, gettid());
  const bool selfTestNow = selfTest && callbacks.load(std::memory_order_relaxed) == 0;
  const uint64_t start = monotonicNs();
  inCallback = true;
  if (selfTestNow) {
    void* (*volatile allocate)(size_t) = std::malloc;  // volatile: kept by the optimiser
    std::free(allocate(16));
  }
  const int result =
      stream->callback(input, output, frameCount, timeInfo, statusFlags, stream->userData);
  inCallback = false;
  recordDuration(monotonicNs() - start, frameCount);
  callbacks.fetch_add(1, std::memory_order_relaxed);
  frames.fetch_add(frameCount, std::memory_order_relaxed);
  return result;
}

__attribute__((constructor)) void readSettings() {
  const char* path = std::getenv("QUILLFERN_RT_GUARD_REPORT");
  if (path != nullptr) std::snprintf(reportPath, sizeof reportPath, "%s", path);
  const char* test = std::getenv("QUILLFERN_RT_GUARD_SELF_TEST");
  selfTest = test != nullptr && std::strcmp(test, "1") == 0;
}

__attribute__((destructor)) void writeReport() {
  if (reportPath[0] == '\0') return;
  FILE* report = std::fopen(reportPath, "w");
  if (report == nullptr) return;
  uint64_t total = 0;
  for (const Tally& tally : violations) total += tally.calls.load();
  std::fprintf(report, "callbacks %llu\nframes %llu\nrender_thread %d\nviolations %llu\n",
               static_cast<unsigned long long>(callbacks.load()),
               static_cast<unsigned long long>(frames.load()), renderThread.load(),
               static_cast<unsigned long long>(total));
  std::fprintf(report, "worst_share_ppm %llu\nworst_callback_ns %llu\nworst_callback_frames %llu\n",
               static_cast<unsigned long long>(worstSharePpm),
               static_cast<unsigned long long>(worstCallbackNs),
               static_cast<unsigned long long>(worstCallbackFrames));
  for (const Tally& tally : violations) {
    if (tally.name.load() == nullptr) break;
    std::fprintf(report, "%s %llu\n", tally.name.load(),
                 static_cast<unsigned long long>(tally.calls.load()));
  }
  std::fclose(report);
}

}  // namespace

extern "C" {

PaError Pa_OpenStream(PaStream** stream, const PaStreamParameters* inputParameters,
                      const PaStreamParameters* outputParameters, double sampleRate,
                      unsigned long framesPerBuffer, PaStreamFlags streamFlags,
                      PaStreamCallback* streamCallback, void* userData) {
  static std::atomic<void*> next;
  auto* open = reinterpret_cast<decltype(&Pa_OpenStream)>(nextDefinition(next, __func__));
  const size_t slot = streamCount.fetch_add(1);
  if (streamCallback == nullptr || slot >= streams.size()) {  // blocking stream, or too many
    return open(stream, inputParameters, outputParameters, sampleRate, framesPerBuffer, streamFlags,
                streamCallback, userData);
  }
  streams[slot] = {streamCallback, userData};
  return open(stream, inputParameters, outputParameters, sampleRate, framesPerBuffer, streamFlags,
              guardedCallback, &streams[slot]);
}

// Allocation: glibc's allocator does the work.
void* malloc(size_t size) noexcept {
  note("malloc");
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  note("calloc");
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
  note("realloc");
  return __libc_realloc(pointer, size);
}
void* reallocarray(void* pointer, size_t count, size_t size) noexcept {
  note("reallocarray");
  size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes)) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_realloc(pointer, bytes);
}
void free(void* pointer) noexcept {
  if (pointer != nullptr) note("free");  // freeing nothing does nothing
  __libc_free(pointer);
}
void* memalign(size_t alignment, size_t size) noexcept {
  note("memalign");
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
  note("aligned_alloc");
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** pointer, size_t alignment, size_t size) noexcept {
  note("posix_memalign");
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  *pointer = __libc_memalign(alignment, size);
  return *pointer == nullptr ? ENOMEM : 0;
}
void* valloc(size_t size) noexcept {
  note("valloc");
  return __libc_memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

}  // extern "C"

// Locks and waits: the next definition does the work. (A condition variable is waited on with
// its mutex locked, so pthread_mutex_lock already counts for it.) `throws` is what the C
// library's headers declare the function to throw (noexcept or nothing), which a definition
// must repeat.
#define QUILLFERN_GUARD(result, name, throws, parameters, arguments)                 \
  extern "C" result name parameters throws {                                         \
    note(#name);                                                                     \
    static std::atomic<void*> next;                                                  \
    return reinterpret_cast<decltype(&name)>(nextDefinition(next, #name)) arguments; \
  }

QUILLFERN_GUARD(int, pthread_mutex_lock, noexcept, (pthread_mutex_t * m), (m))
QUILLFERN_GUARD(int, pthread_mutex_trylock, noexcept, (pthread_mutex_t * m), (m))
QUILLFERN_GUARD(int, pthread_mutex_timedlock, noexcept,
                (pthread_mutex_t * m, const struct timespec* t), (m, t))
QUILLFERN_GUARD(int, pthread_rwlock_rdlock, noexcept, (pthread_rwlock_t * l), (l))
QUILLFERN_GUARD(int, pthread_rwlock_wrlock, noexcept, (pthread_rwlock_t * l), (l))
QUILLFERN_GUARD(int, pthread_spin_lock, noexcept, (pthread_spinlock_t * l), (l))
QUILLFERN_GUARD(int, pthread_join, , (pthread_t thread, void** value), (thread, value))
QUILLFERN_GUARD(int, sem_wait, , (sem_t * s), (s))
QUILLFERN_GUARD(int, sem_timedwait, , (sem_t * s, const struct timespec* t), (s, t))
QUILLFERN_GUARD(int, nanosleep, , (const struct timespec* t, struct timespec* left), (t, left))
QUILLFERN_GUARD(int, clock_nanosleep, ,
                (clockid_t c, int f, const struct timespec* t, struct timespec* left),
                (c, f, t, left))
QUILLFERN_GUARD(int, usleep, , (useconds_t microseconds), (microseconds))
QUILLFERN_GUARD(unsigned int, sleep, , (unsigned int seconds), (seconds))
QUILLFERN_GUARD(int, sched_yield, noexcept, (void), ())
QUILLFERN_GUARD(int, poll, , (struct pollfd * fds, nfds_t n, int timeout), (fds, n, timeout))
QUILLFERN_GUARD(int, select, , (int n, fd_set* r, fd_set* w, fd_set* e, struct timeval* t),
                (n, r, w, e, t))

// syscall() is how std::atomic's wait and notify and a few libraries reach the futex.
extern "C" long syscall(long number, ...) noexcept {
  note("syscall");
  va_list list;
  va_start(list, number);
  std::array<long, 6> arguments{};
  for (long& argument : arguments) argument = va_arg(list, long);
  va_end(list);
  static std::atomic<void*> next;
  return reinterpret_cast<long (*)(long, ...)>(nextDefinition(next, "syscall"))(
      number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
}
