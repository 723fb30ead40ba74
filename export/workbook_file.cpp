#include "export/workbook_file.h"

#include "platform/platform.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <random>
#include <system_error>

namespace temra::xl {

namespace fs = std::filesystem;

ExportError::ExportError(fs::path file, std::string reason)
    : Refusal("The workbook \"" + file.string() + "\" could not be written: " + reason,
              FileCulprit(file.string())),
      file_(std::move(file)), reason_(std::move(reason)) {}

std::string LocalTimeText(const char* format) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char buf[64] = {};
    if (const std::tm* local = std::localtime(&now)) std::strftime(buf, sizeof buf, format, local);
    return buf;
}

namespace {

std::string ReasonOf(const std::error_code& ec) {
    return ec.message();
}

} // namespace

fs::path TemporaryBeside(const fs::path& final) {
    const fs::path folder = final.parent_path().empty() ? fs::path(".") : final.parent_path();
    std::random_device random;
    const std::uint64_t tag = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    return folder / (".temra-" + std::to_string(tag) + "-" + final.filename().string() + ".part");
}

bool ClaimName(const fs::path& temp, const fs::path& final) {
    std::error_code ec;
    fs::create_hard_link(temp, final, ec);
    if (ec == std::errc::file_exists) {
        fs::remove(temp, ec);
        return false;
    }
    if (ec) {
        std::error_code look;
        // A link that leads nowhere holds the name too.
        if (fs::exists(fs::symlink_status(final, look))) {
            fs::remove(temp, look);
            return false;
        }
        fs::rename(temp, final, ec);
        if (ec) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            throw std::system_error(ec);
        }
        return true;
    }
    fs::remove(temp, ec);
    return true;
}

namespace {

// Writes to a temporary file beside `final` and gives it the final name unless
// that is taken. Returns false when the name is taken (the caller tries another).
bool WriteAndClaim(const Workbook& workbook, const fs::path& final, RunControl& control) {
    const fs::path folder = final.parent_path().empty() ? fs::path(".") : final.parent_path();
    const fs::path temp = TemporaryBeside(final);
    // Removed also when the program is ended by a signal while it writes, as is
    // the folder of the library's scratch files.
    const platform::TemporaryFile guard(temp);
    const platform::ScratchFolder scratch(folder);
    try {
        // Without a folder of its own (the file itself then fails and says why),
        // the scratch files go beside the workbook.
        WriteXlsx(workbook, temp, scratch.Path().empty() ? folder : scratch.Path(), control);
    } catch (const SpreadsheetError& e) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw ExportError(final, e.what());
    } catch (...) { // cancelled, or out of memory
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw;
    }
    try {
        return ClaimName(temp, final);
    } catch (const std::system_error& e) {
        throw ExportError(final, ReasonOf(e.code()));
    }
}

} // namespace

fs::path WriteNew(const Workbook& workbook, const std::string& baseName, const fs::path& folder,
                  RunControl& control) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder))
        throw ExportError(folder / (baseName + ".xlsx"),
                          "the folder \"" + folder.string() + "\" cannot be created (" +
                              (ec ? ReasonOf(ec) : "not a folder") + ")");
    const std::string stem = baseName + " " + LocalTimeText("%Y-%m-%d %H-%M-%S");
    for (int n = 1;; ++n) {
        fs::path candidate =
            folder / (stem + (n == 1 ? "" : " (" + std::to_string(n) + ")") + ".xlsx");
        if (fs::exists(candidate, ec)) continue;
        if (WriteAndClaim(workbook, candidate, control)) return candidate;
        if (n > 10000) throw ExportError(candidate, "no free file name");
    }
}

ExportOutcome Open(const fs::path& file, const Opener& opener) {
    ExportOutcome outcome;
    outcome.file = file;
    outcome.opened = opener && opener(file);
    outcome.message = outcome.opened ? "Workbook written to " + file.string()
                                     : "Workbook written to " + file.string() +
                                           " (no spreadsheet program could be started to open it)";
    return outcome;
}

ExportOutcome Publish(const Workbook& workbook, const std::string& baseName,
                      const ExportDestination& destination) {
    return Open(WriteNew(workbook, baseName, destination.folder), destination.opener);
}

void SaveAs(const Workbook& workbook, const fs::path& path, RunControl& control) {
    std::error_code ec;
    if (fs::exists(path, ec)) throw ExportError(path, "a file of that name exists already");
    const fs::path folder = path.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec))
        throw ExportError(path, "the folder \"" + folder.string() + "\" does not exist");
    if (!WriteAndClaim(workbook, path, control))
        throw ExportError(path, "a file of that name exists already");
}

} // namespace temra::xl
