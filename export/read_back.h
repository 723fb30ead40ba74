// Reading a written workbook back before it takes its name.
//
// Every part of the .xlsx file that is XML ([Content_Types].xml, the .rels, the
// workbook, the styles, the theme, the document properties and every sheet) is
// parsed (expat): it must be well-formed XML 1.0 in valid UTF-8 and complete. Each
// sheet must hold, as its rows and cells, every row and cell of the workbook it
// was written from: a file system that runs full while the library writes its
// scratch files leaves a sheet cut short inside a file that is otherwise valid,
// and the library does not say so.
#pragma once

#include "export/spreadsheet.h"

#include <filesystem>

namespace temra::xl {

// Raises SpreadsheetError with what is wrong and where: the sheet (or the part),
// the fault, its line and column and the cell it lies in or follows. Progress goes
// to `control` in the sheets' rows read back.
void ReadBackXlsx(const Workbook& workbook, const std::filesystem::path& path,
                  RunControl& control = Unwatched());

} // namespace temra::xl
