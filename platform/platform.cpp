#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#if defined(__linux__) || defined(__APPLE__)
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#if defined(__APPLE__)
#include <mach/mach.h>
#include <sys/sysctl.h>
#endif
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX // std::min and std::max, not the macros of <windows.h>
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <windows.h>
#endif

namespace temra::platform {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::uint64_t Less(std::uint64_t limit, std::uint64_t used, std::uint64_t margin) {
    return limit > used + margin ? limit - used - margin : 0;
}

#if defined(__linux__) || defined(__APPLE__)
// The stack of a thread the program starts: the system's default for new threads.
std::uint64_t ThreadStack() {
    std::uint64_t stack = 8 * kMiB;
#if defined(__GLIBC__)
    pthread_attr_t attr;
    if (pthread_getattr_default_np(&attr) == 0) {
        std::size_t size = 0;
        if (pthread_attr_getstacksize(&attr, &size) == 0 && size > 0) stack = size;
        pthread_attr_destroy(&attr);
    }
#endif
    return stack;
}

// What a worker thread takes of the address space: its stack and, with glibc, the
// address range its own malloc arena reserves (HEAP_MAX_SIZE, 2 x 4 MiB x
// sizeof(long): 64 MiB on 64-bit systems).
std::uint64_t ThreadAddressSpace() {
#if defined(__GLIBC__)
    return ThreadStack() + kMiB * 2 * 4 * sizeof(long);
#else
    return ThreadStack();
#endif
}

// Of `room`, what the computation's own arrays may take. The program needs a
// little beside them (32 MiB), and each worker thread it starts needs
// `perThread`: the calculation splits its loops over one thread per core, at
// most 16 (PartCount, core/parallel.h), the calling thread among them. The
// threads are given at most half of the room: a thread that cannot be started
// leaves its part to the calling thread, so a tight limit costs speed, not the
// run.
std::uint64_t ComputationRoom(std::uint64_t room, std::uint64_t perThread) {
    const std::uint64_t left = Less(room, 0, 32 * kMiB);
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 16u));
    return left - std::min<std::uint64_t>((cores - 1) * perThread, left / 2);
}

// The room a resource limit of this process leaves: the limit less what the
// process already has (`used`), for the computation (ComputationRoom).
std::uint64_t RlimitRoom(int resource, std::uint64_t used, std::uint64_t perThread) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
    return ComputationRoom(Less(static_cast<std::uint64_t>(limit.rlim_cur), used, 0), perThread);
}
#endif

#if defined(__linux__)
// A "Key:   value kB" line of a /proc file, in bytes; 0 when absent.
std::uint64_t ProcKiB(const char* file, const std::string& key) {
    std::ifstream in(file);
    std::string word;
    while (in >> word) {
        if (word == key) {
            std::uint64_t kib = 0;
            if (in >> kib) return kib * 1024;
            return 0;
        }
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

std::uint64_t ReadNumber(const std::string& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text) || text == "max") return kUnlimited;
    try {
        return std::stoull(text);
    } catch (...) {
        return kUnlimited;
    }
}

// Room left in the memory control groups of this process (v2, else v1), from its
// own group up to the root.
std::uint64_t CgroupRoom() {
    std::ifstream self("/proc/self/cgroup");
    std::string line, v2, v1;
    while (std::getline(self, line)) {
        if (line.rfind("0::", 0) == 0) v2 = line.substr(3);
        const auto memory = line.find(":memory:");
        if (memory != std::string::npos) v1 = line.substr(memory + 8);
    }
    std::uint64_t room = kUnlimited;
    if (!v2.empty()) {
        for (std::string path = v2;; path = path.substr(0, path.rfind('/'))) {
            const std::string dir = "/sys/fs/cgroup" + (path == "/" ? std::string() : path);
            const std::uint64_t max = ReadNumber(dir + "/memory.max");
            if (max != kUnlimited)
                room = std::min(room, Less(max, ReadNumber(dir + "/memory.current"), 32 * kMiB));
            if (path.empty() || path == "/") break;
        }
    } else if (!v1.empty()) {
        const std::string dir = "/sys/fs/cgroup/memory" + (v1 == "/" ? std::string() : v1);
        const std::uint64_t max = ReadNumber(dir + "/memory.limit_in_bytes");
        if (max < (std::uint64_t{1} << 60))
            room = Less(max, ReadNumber(dir + "/memory.usage_in_bytes"), 32 * kMiB);
    }
    return room;
}

std::uint64_t LimitRoom(int resource, const char* usedKey, std::uint64_t perThread) {
    return RlimitRoom(resource, ProcKiB("/proc/self/status", usedKey), perThread);
}
#endif

#if defined(__APPLE__)
// Memory the system can hand out without swapping: free, inactive and
// purgeable pages; the physical memory's half when the kernel does not say.
std::uint64_t MachAvailable() {
    vm_statistics64_data_t vm{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    vm_size_t page = 0;
    if (host_page_size(mach_host_self(), &page) == KERN_SUCCESS &&
        host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&vm),
                          &count) == KERN_SUCCESS)
        return (static_cast<std::uint64_t>(vm.free_count) + vm.inactive_count +
                vm.purgeable_count) *
               page;
    std::uint64_t memory = 0;
    std::size_t size = sizeof memory;
    if (sysctlbyname("hw.memsize", &memory, &size, nullptr, 0) != 0) memory = 4ull << 30;
    return memory / 2;
}

// What this process already has: its resident memory.
std::uint64_t MachResident() {
    mach_task_basic_info_data_t info{};
    mach_msg_type_number_t count = MACH_TASK_BASIC_INFO_COUNT;
    if (task_info(mach_task_self(), MACH_TASK_BASIC_INFO, reinterpret_cast<task_info_t>(&info),
                  &count) != KERN_SUCCESS)
        return 0;
    return info.resident_size;
}
#endif

#if defined(_WIN32)
// The memory limit of the job object this process runs in (a sandbox, a
// scheduler, a container), less what the process already commits.
std::uint64_t JobRoom() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                   nullptr))
        return kUnlimited;
    std::uint64_t room = kUnlimited;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    const std::uint64_t used = GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
                                   ? counters.PagefileUsage
                                   : 0;
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)
        room = std::min(room, Less(job.ProcessMemoryLimit, used, 32 * kMiB));
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY)
        room = std::min(room, Less(job.JobMemoryLimit, used, 32 * kMiB));
    return room;
}
#endif

} // namespace

std::uint64_t AvailableMemory() {
#if defined(__linux__)
    std::uint64_t room = ProcKiB("/proc/meminfo", "MemAvailable:");
    if (room == 0) room = ProcKiB("/proc/meminfo", "MemTotal:") / 2;
    // A /proc that cannot be read (no file descriptor left, say) says nothing of
    // the memory: no limit is read from it, the process's own limits still hold.
    room = room == 0 ? kUnlimited : Less(room, 0, 64 * kMiB);
    // What the process may still map under its address-space limit (the kernel
    // counts VmSize against it), less the stacks and allocator arenas of the
    // worker threads; the data limit counts their stacks only, as an arena's
    // reserve becomes data as the computation fills it.
    room = std::min(room, LimitRoom(RLIMIT_AS, "VmSize:", ThreadAddressSpace()));
    room = std::min(room, LimitRoom(RLIMIT_DATA, "VmData:", ThreadStack()));
    room = std::min(room, CgroupRoom());
    return room;
#elif defined(__APPLE__)
    std::uint64_t room = Less(MachAvailable(), 0, 64 * kMiB);
    const std::uint64_t resident = MachResident();
    room = std::min(room, RlimitRoom(RLIMIT_AS, resident, ThreadAddressSpace()));
    room = std::min(room, RlimitRoom(RLIMIT_DATA, resident, ThreadStack()));
    return room;
#elif defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return std::uint64_t{4} << 30;
    std::uint64_t room = std::min<std::uint64_t>(status.ullAvailPhys, status.ullAvailVirtual);
    return std::min(Less(room, 0, 64 * kMiB), JobRoom());
#else
    return std::uint64_t{4} << 30;
#endif
}

void AdviseHugePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    (void)madvise(data, bytes, MADV_HUGEPAGE); // a refusal leaves ordinary pages
#else
    (void)data;
    (void)bytes;
#endif
}

void ReportFileSizeLimitAsError() {
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool SyncFile(const std::filesystem::path& file, std::string& reason) {
#if defined(__linux__) || defined(__APPLE__)
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
#if defined(__APPLE__)
    // fsync leaves the data in the drive's cache on macOS; F_FULLFSYNC does not.
    const bool synced = ::fcntl(fd, F_FULLFSYNC) == 0 || ::fsync(fd) == 0;
#else
    const bool synced = ::fsync(fd) == 0;
#endif
    if (!synced) reason = std::strerror(errno);
    ::close(fd);
    return synced;
#elif defined(_WIN32)
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = "the file cannot be opened";
        return false;
    }
    const bool synced = FlushFileBuffers(h) != 0;
    CloseHandle(h);
    if (!synced) reason = "the file cannot be flushed to the disk";
    return synced;
#else
    (void)file;
    (void)reason;
    return true;
#endif
}

namespace {

// The registered temporary files. A slot is free, being filled, registered, taken
// by a removal, or removed; the signal handler reads a path only after taking its
// slot, so it never reads one being written. Atomics free of locks and unlink()
// are what a signal handler may use.
enum SlotState : int { kFree, kFilling, kRegistered, kTaken, kRemoved };
constexpr std::size_t kSlots = 16;
constexpr std::size_t kPathMax = 4096;
static_assert(std::atomic<int>::is_always_lock_free);

struct Slot {
    std::atomic<int> state{kFree};
    bool folder = false; // a folder, removed with what it holds
    std::filesystem::path::value_type path[kPathMax] = {};
};
std::array<Slot, kSlots> gTemporaryFiles;

void RemoveFile(const std::filesystem::path::value_type* path) {
#if defined(_WIN32)
    (void)_wunlink(path);
#elif defined(__linux__) || defined(__APPLE__)
    (void)::unlink(path);
#else
    (void)std::remove(path);
#endif
}

#if defined(__linux__)
// Empties a folder of its files (a library's scratch files, no subfolders) and
// removes it, with the system's calls only: a signal handler may use them.
void RemoveFolder(const char* path) {
    const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
                const char* name = entry->d_name;
                const bool dots =
                    name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
                if (!dots) (void)::unlinkat(dir, name, 0);
                at += entry->d_reclen;
            }
        }
        (void)::close(dir);
    }
    (void)::rmdir(path);
}
#else
void RemoveFolder(const std::filesystem::path::value_type* path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored); // not from a signal handler
}
#endif

// Removes every registered file; `release`: the slots are given back to their
// owners (not from a signal handler, after which the process ends).
void RemoveRegistered(bool release) {
    for (Slot& slot : gTemporaryFiles) {
        int registered = kRegistered;
        if (!slot.state.compare_exchange_strong(registered, kTaken)) continue;
        if (slot.folder)
            RemoveFolder(slot.path);
        else
            RemoveFile(slot.path);
        if (release) slot.state.store(kRemoved);
    }
}

#if defined(__linux__) || defined(__APPLE__)
void EndBySignal(int signal) {
    const int savedErrno = errno;
    RemoveRegistered(false);
    // The handler was reset on entry (SA_RESETHAND): the signal, pending until the
    // handler returns, ends the process by its default action.
    (void)std::raise(signal);
    errno = savedErrno;
}
#elif defined(_WIN32)
void EndBySignal(int signal) {
    RemoveRegistered(false);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

} // namespace

TemporaryFile::TemporaryFile(const std::filesystem::path& file, bool folder) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    const auto& native = (ec ? file : absolute).native();
    if (native.size() >= kPathMax) return;
    for (std::size_t i = 0; i < kSlots; ++i) {
        Slot& slot = gTemporaryFiles[i];
        int free = kFree;
        if (!slot.state.compare_exchange_strong(free, kFilling)) continue;
        std::copy(native.begin(), native.end(), slot.path);
        slot.path[native.size()] = 0;
        slot.folder = folder;
        slot.state.store(kRegistered);
        slot_ = static_cast<int>(i);
        return;
    }
}

TemporaryFile::~TemporaryFile() {
    if (slot_ < 0) return;
    Slot& slot = gTemporaryFiles[static_cast<std::size_t>(slot_)];
    // Registered, or removed by RemoveTemporaryFiles: free again. Taken by a
    // signal's handler: the process is ending.
    for (int state : {kRegistered, kRemoved})
        if (slot.state.compare_exchange_strong(state, kFree)) return;
}

void EndWithTemporaryFilesRemoved() {
#if defined(__linux__) || defined(__APPLE__)
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue; // ignored, as under nohup: it stays so
        struct sigaction action {};
        action.sa_handler = &EndBySignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        (void)::sigaction(signal, &action, nullptr);
    }
#elif defined(_WIN32)
    for (int signal : {SIGINT, SIGTERM}) std::signal(signal, &EndBySignal);
#endif
}

void RemoveTemporaryFiles() {
    RemoveRegistered(true);
}

ScratchFolder::ScratchFolder(const std::filesystem::path& parent) {
    std::random_device random;
    for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
        const std::uint64_t tag = (static_cast<std::uint64_t>(random()) << 32) ^ random();
        std::filesystem::path candidate = parent / (".temra-scratch-" + std::to_string(tag));
        auto guard = std::make_unique<TemporaryFile>(candidate, true);
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = std::move(candidate);
            guard_ = std::move(guard);
        } else if (ec) {
            reason_ = ec.message();
            if (ec != std::errc::file_exists) break;
        }
    }
}

ScratchFolder::~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {
// Standard error is one per process: one capture at a time.
std::mutex gCaptureMutex;
} // namespace

QuietStderr::QuietStderr() {
#if defined(__linux__) || defined(__APPLE__) || defined(_WIN32)
    gCaptureMutex.lock();
    std::fflush(stderr);
#if defined(_WIN32)
    file_ = _open("NUL", _O_WRONLY);
    saved_ = _dup(2);
    if (saved_ >= 0 && file_ >= 0) _dup2(file_, 2);
#else
    file_ = ::open("/dev/null", O_WRONLY);
    saved_ = ::dup(2);
    if (saved_ >= 0 && file_ >= 0) ::dup2(file_, 2);
#endif
#endif
}

QuietStderr::~QuietStderr() {
#if defined(__linux__) || defined(__APPLE__) || defined(_WIN32)
    std::fflush(stderr);
#if defined(_WIN32)
    if (saved_ >= 0) {
        _dup2(saved_, 2);
        _close(saved_);
    }
    if (file_ >= 0) _close(file_);
#else
    if (saved_ >= 0) {
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    if (file_ >= 0) ::close(file_);
#endif
    gCaptureMutex.unlock();
#endif
}

} // namespace temra::platform
