// Long work off the window thread: the worker thread, the window that tells how
// far the work is after about a second and offers Cancel, and the holding back
// of the user's input to the other windows while it works. The windows reach it
// through TemraApp::Run, which reports what it returns.
#pragma once

#include "core/run_control.h"

#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace temra::ui {

// Runs `work` with `control` on a worker thread and returns when it has ended;
// the windows keep repainting meanwhile and the cursor is busy. After about a
// second a progress window over `parent` says `what` runs, shows how much of the
// work `control` counts as done and offers Cancel (Cancel, Escape and its close
// all cancel `control`). Until the work ends the user's input to every other
// window is held back and their closes are refused. The progress window is gone
// when this returns. Returns the work's fault (`Cancelled` when it was
// cancelled), or null when it completed.
std::exception_ptr RunWithProgress(QWidget* parent, const QString& what, RunControl& control,
                                   const std::function<void(RunControl&)>& work);

} // namespace temra::ui
