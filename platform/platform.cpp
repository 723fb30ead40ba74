#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>

#if defined(__linux__) || defined(__APPLE__)
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace temra::platform {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::uint64_t Less(std::uint64_t limit, std::uint64_t used, std::uint64_t margin) {
    return limit > used + margin ? limit - used - margin : 0;
}

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

std::uint64_t LimitRoom(int resource, const char* usedKey, std::uint64_t margin) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
    return Less(static_cast<std::uint64_t>(limit.rlim_cur), ProcKiB("/proc/self/status", usedKey),
                margin);
}
#endif

} // namespace

std::uint64_t AvailableMemory() {
#if defined(__linux__)
    std::uint64_t room = ProcKiB("/proc/meminfo", "MemAvailable:");
    if (room == 0) room = ProcKiB("/proc/meminfo", "MemTotal:") / 2;
    room = Less(room, 0, 64 * kMiB);
    // The address-space limit also counts thread stacks and the reserves of the
    // memory allocator's arenas: a wider margin.
    room = std::min(room, LimitRoom(RLIMIT_AS, "VmSize:", 320 * kMiB));
    room = std::min(room, LimitRoom(RLIMIT_DATA, "VmData:", 160 * kMiB));
    room = std::min(room, CgroupRoom());
    return room;
#elif defined(__APPLE__)
    std::uint64_t memory = 0;
    std::size_t size = sizeof memory;
    if (sysctlbyname("hw.memsize", &memory, &size, nullptr, 0) != 0) memory = 4ull << 30;
    return Less(memory / 4 * 3, 0, 64 * kMiB);
#elif defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 4ull << 30;
    return Less(std::min<std::uint64_t>(status.ullAvailPhys, status.ullAvailVirtual), 0, 64 * kMiB);
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
    const bool synced = ::fsync(fd) == 0;
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
