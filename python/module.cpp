// The compiled part of the `temra` Python module, `temra._temra`: it moves values
// between Python and the calls of python/study_call.h. A study runs on a thread
// of its own while the calling thread, without holding the interpreter's lock,
// waits for it, hears Ctrl+C and calls the progress callback; an interrupted
// study is cancelled and leaves nothing behind. The Python part (temra/__init__.py)
// gives the arguments their checks and the results their DataFrames.
#include "core/numtext.h"
#include "core/version.h"
#include "python/study_call.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;
using temra::python::Refused;

namespace {

// temra.Error, given by the Python part when it is imported.
py::handle errorType;

[[noreturn]] void Raise(const Refused& r) {
    if (!errorType) throw py::value_error(r.what());
    const py::object row = r.row() > 0 ? py::object(py::int_(r.row())) : py::object(py::none());
    const py::object column =
        r.column().empty() ? py::object(py::none()) : py::object(py::str(r.column()));
    const py::object error = errorType(r.what(), py::arg("argument") = r.argument(),
                                       py::arg("row") = row, py::arg("column") = column);
    PyErr_SetObject(errorType.ptr(), error.ptr());
    throw py::error_already_set();
}

temra::study::SampleTable TableOf(const py::tuple& table) {
    temra::study::SampleTable t;
    t.header = table[0].cast<std::vector<std::string>>();
    t.rows = table[1].cast<std::vector<std::vector<std::string>>>();
    for (std::size_t i = 0; i < t.rows.size(); ++i) t.rowNumbers.push_back(i + 2);
    return t;
}

temra::python::StudyCall CallOf(const py::object& table, const py::object& path,
                                const py::dict& o) {
    temra::python::StudyCall call;
    if (!table.is_none()) call.table = TableOf(table.cast<py::tuple>());
    if (!path.is_none()) call.path = path.cast<std::string>();
    if (!o["sheet"].is_none()) call.sheet = o["sheet"].cast<std::string>();
    call.model = o["model"].cast<std::string>();
    if (!o["gases"].is_none()) call.gases = o["gases"].cast<std::vector<std::string>>();
    call.grid = o["grid"].cast<std::map<std::string, std::string>>();
    call.gridTicks = o["grid_ticks"].cast<std::map<std::string, bool>>();
    if (!o["solubility"].is_none()) call.solubility = o["solubility"].cast<std::string>();
    if (!o["ensemble"].is_none()) call.ensemble = o["ensemble"].cast<std::string>();
    call.relErr = o["rel_err"].cast<double>();
    call.mc = o["mc"].cast<std::int64_t>();
    call.mcSeed = o["mc_seed"].cast<std::uint64_t>();
    call.prior = o["prior"].cast<bool>();
    call.priorOffset = o["prior_offset"].cast<double>();
    call.priorSd = o["prior_sd"].cast<double>();
    call.perGram = o["per_gram"].cast<bool>();
    call.bounds = o["bounds"].cast<std::map<std::string, double>>();
    call.threads = o["threads"].cast<int>();
    return call;
}

// A result cell as Python holds it: a float, a text, or None. An elevation
// (single precision) is the float its shortest text reads as, the number
// temra-cli writes.
py::object CellOf(const temra::study::ResultCell& cell) {
    using K = temra::study::ResultCell::Kind;
    switch (cell.kind) {
    case K::Double:
        return py::float_(cell.number);
    case K::Single: {
        const std::string text = temra::ExactText(static_cast<float>(cell.number));
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return py::float_(value);
    }
    case K::Text:
        return py::str(cell.text);
    case K::Empty:
        break;
    }
    return py::none();
}

constexpr std::array<const char*, 3> kStages{"reading", "fitting", "drawing"};

// Runs the study on a thread of its own; the calling thread hears Ctrl+C and
// calls `progress(stage, fraction)` about every tenth of a second. A signal's
// exception, or one raised by the callback, cancels the study and is raised
// once its thread has ended.
temra::python::StudyOutput Interruptible(const temra::python::StudyCall& call,
                                         const py::object& progress) {
    temra::RunControl control;
    std::atomic<int> stage{0};
    std::optional<temra::python::StudyOutput> out;
    std::exception_ptr failure;
    std::optional<py::error_already_set> raised;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    {
        const py::gil_scoped_release unlocked;
        std::thread worker([&] {
            try {
                out = temra::python::RunStudy(call, control, stage);
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard lock(m);
            done = true;
            cv.notify_all();
        });
        for (;;) {
            {
                std::unique_lock lock(m);
                if (cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) break;
            }
            const py::gil_scoped_acquire locked;
            if (raised) continue;
            try {
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                if (!progress.is_none())
                    progress(kStages.at(static_cast<std::size_t>(stage.load())),
                             control.Fraction());
            } catch (const py::error_already_set& e) {
                raised = e;
                control.Cancel();
            }
        }
        worker.join();
    }
    if (raised) throw std::move(*raised);
    if (failure)
        Raise(temra::python::AsRefused(failure, call.table ? call.table->header
                                                           : std::vector<std::string>{}));
    return std::move(*out);
}

py::dict Study(const py::object& table, const py::object& path, const py::dict& options,
               const py::object& progress) {
    const temra::python::StudyOutput out = Interruptible(CallOf(table, path, options), progress);
    py::list data;
    for (std::size_t c = 0; c < out.columns.size(); ++c) {
        py::list column;
        for (const auto& row : out.rows) column.append(CellOf(row.at(c)));
        data.append(column);
    }
    py::dict result;
    result["columns"] = out.columns;
    result["data"] = data;
    result["notes"] = out.notes;
    result["time"] = out.time;
    return result;
}

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::array_t<double> Equilibrium(const std::string& gas, const Doubles& T, const Doubles& E,
                                const Doubles& chloride, const Doubles& density,
                                const std::string& solubility) {
    auto span = [](const Doubles& a) {
        return std::span<const double>(a.data(), static_cast<std::size_t>(a.size()));
    };
    std::vector<double> values;
    try {
        const py::gil_scoped_release unlocked;
        values = temra::python::Equilibrium(gas, span(T), span(E), span(chloride), span(density),
                                            solubility);
    } catch (...) {
        Raise(temra::python::AsRefused(std::current_exception()));
    }
    py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

py::dict TableOf(const temra::python::TableRows& t) {
    py::dict d;
    d["columns"] = t.columns;
    d["rows"] = t.rows;
    d["numbers"] = t.numbers;
    return d;
}

} // namespace

PYBIND11_MODULE(_temra, m) {
    m.doc() = "Temra's study fit and solubility model, compiled (use the temra package)";
    m.attr("__version__") = std::string(temra::kVersion);
    m.def(
        "_set_error", [](const py::object& type) { errorType = type.inc_ref(); },
        "Gives the module the exception it raises for a refusal.");
    m.def("study", &Study, py::arg("table"), py::arg("path"), py::arg("options"),
          py::arg("progress"));
    m.def("equilibrium", &Equilibrium, py::arg("gas"), py::arg("T"), py::arg("E"),
          py::arg("chloride"), py::arg("density"), py::arg("solubility"));
    m.def("models", [] { return TableOf(temra::python::ModelTable()); });
    m.def("gases", [] { return TableOf(temra::python::GasTable()); });
    m.def("flags", [] { return TableOf(temra::python::FlagTable()); });
    m.def("solubility_sets", [] { return TableOf(temra::python::SolubilityTable()); });
    m.def("python_words", &temra::python::PythonWords);
}
