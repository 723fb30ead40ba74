// Putting a finished workbook on disk and in front of the user.
//
// Every export writes a new file and never replaces one: the name is the sheet's
// name and the date and time ("NG Solubility 2026-12-07 14-03-09.xlsx"), with
// " (2)", " (3)" ... when that is taken. The file is first written under a
// temporary name in the same folder and only then given its final name, so a
// failed export leaves no half-written workbook behind under that name. Then the
// opener (the desktop's "open with the spreadsheet program") is asked to show it.
#pragma once

#include "export/spreadsheet.h"

#include "core/errors.h"

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace temra::xl {

// A workbook that could not be written: which file, and why.
class ExportError : public Refusal {
  public:
    ExportError(std::filesystem::path file, std::string reason);
    const std::filesystem::path& file() const { return file_; }
    const std::string& reason() const { return reason_; }

  private:
    std::filesystem::path file_;
    std::string reason_;
};

// A private temporary name in `folder` for a file that will be called `final`
// (".temra-<random>-<final's name>.part"); it is registered to be removed if the
// program is ended by a signal while it exists (platform::TemporaryFile).
std::filesystem::path TemporaryBeside(const std::filesystem::path& final);

// Gives the written file `temp` the name `final` unless that name is taken (a
// file, a folder or a link, even one that leads nowhere): a hard link, which
// never replaces, or, where the file system has none, a rename after a look. The
// temporary name is removed either way. False when the name is taken; throws
// std::system_error when the file cannot be named.
bool ClaimName(const std::filesystem::path& temp, const std::filesystem::path& final);

// Opens a written workbook in the user's spreadsheet program; false when there is
// no program or desktop to open it.
using Opener = std::function<bool(const std::filesystem::path&)>;

struct ExportDestination {
    std::filesystem::path folder; // created when missing
    Opener opener;                // may be empty: nothing is opened
};

struct ExportOutcome {
    std::filesystem::path file;
    bool opened = false;
    std::string message; // for the window that started the export
};

// The local date and time in a strftime `format`: in file names and in the
// "Settings" of a workbook.
std::string LocalTimeText(const char* format);

// Writes the workbook under a new name in `folder` (created when missing) and
// returns the name. A failed or cancelled write leaves nothing behind.
std::filesystem::path WriteNew(const Workbook& workbook, const std::string& baseName,
                               const std::filesystem::path& folder,
                               RunControl& control = Unwatched());

// Asks the opener to show a written workbook; the message says where it is.
ExportOutcome Open(const std::filesystem::path& file, const Opener& opener);

// Writes the workbook under a new name in the destination folder and opens it.
ExportOutcome Publish(const Workbook& workbook, const std::string& baseName,
                      const ExportDestination& destination);

// Writes the workbook at exactly `path`, refusing to replace a file there.
void SaveAs(const Workbook& workbook, const std::filesystem::path& path,
            RunControl& control = Unwatched());

} // namespace temra::xl
