// Services of the operating system that the standard library does not offer.
// This layer includes nothing of Temra's own; the programs hand what they need of
// it to the calculation core. Linux is built and tested; the Windows and macOS
// branches follow each system's documented calls but are not built here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace temra::platform {

// The memory this process may still claim, in bytes: the least of the physical
// memory available, the address-space and data limits of the process less what it
// already uses, and the limit of its control group less what the group already
// uses, each less a margin for the program's own small needs. On macOS: free,
// inactive and purgeable memory and the resource limits; on Windows: available
// physical and virtual memory and the limits of the process's job object.
std::uint64_t AvailableMemory();

// Asks the system to back a large array with huge pages where it supports them,
// which saves most of the cost of touching fresh memory. Advice only; nothing on
// systems other than Linux.
void AdviseHugePages(void* data, std::size_t bytes);

// A write past the process's file-size limit fails with an error the program
// reports, instead of ending the process.
void ReportFileSizeLimitAsError();

// Forces a written file's data to the disk; false (with the reason) on failure.
bool SyncFile(const std::filesystem::path& file, std::string& reason);

// While alive, what is printed to standard error (by libraries that report their
// faults there) is put aside instead of reaching the user's terminal. The program
// says what went wrong in its own words.
class QuietStderr {
  public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
    int file_ = -1;
};

} // namespace temra::platform
