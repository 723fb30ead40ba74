// Services of the operating system that the standard library does not offer.
// This layer includes nothing of Temra's own; the programs hand what they need of
// it to the calculation core. Linux is built and tested; the Windows and macOS
// branches follow each system's documented calls but are not built here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
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

// Temporary files that must not outlive the process. While a TemporaryFile lives,
// its file is removed when the process is ended by SIGINT, SIGTERM or SIGHUP
// (once EndWithTemporaryFilesRemoved has installed the handlers) and by
// RemoveTemporaryFiles. Register the name before the file is made. At most 16
// files are registered at a time; a further one is not guarded. A `folder` is
// removed with the files it holds.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::filesystem::path& file, bool folder = false);
    ~TemporaryFile(); // the file stays as it is: its owner renames or removes it
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

  private:
    int slot_ = -1;
};

// Installs the handlers of SIGINT, SIGTERM and SIGHUP (those the process does not
// ignore): each removes the registered temporary files, then the process ends by
// the signal as it would have without a handler (a shell sees 130 for SIGINT, 143
// for SIGTERM). For the programs' main(), once.
void EndWithTemporaryFilesRemoved();

// Removes the registered temporary files now: when the desktop program quits.
void RemoveTemporaryFiles();

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

// A private folder for a library's scratch files, made inside `parent` (which
// must exist) and removed with what it holds when this ends, or when the program
// is ended by a signal meanwhile: the library's files never outlive the process.
// Path() is empty when the folder could not be made (Reason() says why).
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::filesystem::path& parent);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    const std::string& Reason() const { return reason_; }

  private:
    std::filesystem::path path_;
    std::string reason_;
    std::unique_ptr<TemporaryFile> guard_;
};

} // namespace temra::platform
