// module: orbax._orbax, the extension that hosts the library in Python. It
// starts the library once per process, runs session lines with the output
// collected, and hands arrays across as records (see record.h). The Python
// package (orbax/__init__.py) builds the session and the value conversions
// on top of it.
#include "codepage.h"
#include "failure.h"
#include "interrupt.h"
#include "output.h"
#include "record.h"

#include "apl.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kReadSession = 5;  // the read callback's mode for a session line

bool started = false;

// The lines a run feeds to the session loop; the end of them ends the loop
// (the workspace and its tied files stay for the next run). Evaluated input
// past the end gets empty lines, then an interrupt, so that a loop reading
// input cannot spin for ever.
std::vector<std::string> lines;
size_t nextLine = 0;
int readsAfterEnd = 0;

void ReadLine(char *buffer, int32_t mode) {
    std::string codes;
    if (nextLine < lines.size()) {
        codes = lines[nextLine++];
    } else if (mode == kReadSession) {
        APL_EndInput();
    } else if (++readsAfterEnd > 1) {
        APL_interrupted = 1;
    }
    if (codes.size() >= APL_INPUT_BUFFER) codes.clear();  // refused before the run
    memcpy(buffer, codes.c_str(), codes.size() + 1);
}

bool NotStarted() {
    if (started) return false;
    PyErr_SetString(PyExc_RuntimeError, "the APL library has not been started");
    return true;
}

bool CopyPath(char *target, size_t size, const char *path, const char *what) {
    if (strlen(path) >= size) {
        PyErr_Format(PyExc_ValueError, "the path of %s has more than %zu bytes: %s", what, size - 1, path);
        return false;
    }
    snprintf(target, size, "%s", path);
    return true;
}

PyObject *Start(PyObject *, PyObject *args) {
    const char *tokens, *messages;
    if (!PyArg_ParseTuple(args, "ss", &tokens, &messages)) return nullptr;
    if (started) {
        PyErr_SetString(PyExc_RuntimeError, "the APL library is already started");
        return nullptr;
    }
    if (!CopyPath(APL_tokenfile, sizeof APL_tokenfile, tokens, "Standard.tok") ||
        !CopyPath(APL_messagefile, sizeof APL_messagefile, messages, "session.msg"))
        return nullptr;
    APL_Callback(1, reinterpret_cast<void *>(&output::Write));
    APL_Callback(2, reinterpret_cast<void *>(&output::EndLines));
    APL_Callback(3, reinterpret_cast<void *>(&ReadLine));
    APL_SetScriptMode(1);
    output::Begin();
    APL_Init(0, "");
    long reportAt;
    output::Finish(reportAt);
    aplerrno = 0;
    started = true;
    Py_RETURN_NONE;
}

// Refuses a line the read callback could not hand over whole; number counts
// from 1 for the message.
bool LineFits(const char *codes, Py_ssize_t length, Py_ssize_t number) {
    if (length >= APL_INPUT_BUFFER) {
        PyErr_Format(PyExc_ValueError, "line %zd has %zd characters; a line has at most %d", number, length,
                     APL_INPUT_BUFFER - 1);
        return false;
    }
    if (memchr(codes, 0, static_cast<size_t>(length))) {
        PyErr_Format(PyExc_ValueError, "line %zd holds a NUL character", number);
        return false;
    }
    return true;
}

// Feeds the lines to the session loop; what they printed, where an error
// report began (-1 when none did) and whether Ctrl-C came.
std::string RunSession(std::vector<std::string> &codes, bool catching, long &reportAt, bool &interrupted) {
    lines.swap(codes);
    nextLine = 0;
    readsAfterEnd = 0;
    if (catching) interrupt::Catch();
    std::string text;
    {
        interrupt::Running running;
        output::Begin();
        APL_MainLoop();
        text = output::Finish(reportAt);
        interrupted = running.Signalled();
    }
    aplerrno = 0;
    lines.clear();
    return text;
}

// run(lines, catch) -> (output, report offset or -1, interrupted by a signal)
// Each line is bytes in the APL character set; with catch (the main thread
// only) Ctrl-C interrupts the run.
PyObject *Run(PyObject *, PyObject *args) {
    PyObject *list;
    int catching;
    if (!PyArg_ParseTuple(args, "O!p", &PyList_Type, &list, &catching) || NotStarted()) return nullptr;
    std::vector<std::string> codes;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject *item = PyList_GET_ITEM(list, i);
        if (!PyBytes_Check(item)) return PyErr_Format(PyExc_TypeError, "lines must be bytes");
        if (!LineFits(PyBytes_AS_STRING(item), PyBytes_GET_SIZE(item), i + 1)) return nullptr;
        codes.emplace_back(PyBytes_AS_STRING(item), static_cast<size_t>(PyBytes_GET_SIZE(item)));
    }
    long reportAt;
    bool interrupted;
    const std::string text = RunSession(codes, catching != 0, reportAt, interrupted);
    return Py_BuildValue("(s#lO)", text.data(), static_cast<Py_ssize_t>(text.size()), reportAt,
                         interrupted ? Py_True : Py_False);
}

// The index of a name (entered when new); APL_symtab.count with the error
// set when the name is not one.
uint16_t SymbolOf(const char *name, Py_ssize_t length) {
    void *const none = nullptr;
    return APL_AddSymbol(name, static_cast<int32_t>(length), 0, &none);
}

// The value of a variable, or null when the name has none or names no variable.
aplarray *ValueOf(uint16_t index) {
    const aplsymbol &entry = APL_symtab.entries[index];
    constexpr int kNotVariable = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP | APL_KIND_OPERAND;
    const bool label = (entry.kind & 0x03) == 0x03;
    if (!(entry.kind & APL_KIND_VARIABLE) || (entry.kind & kNotVariable) || label || !entry.value) return nullptr;
    return APL_Variable(index);
}

// variable(name) -> record, or None when the name has no value or is not a variable
PyObject *Variable(PyObject *, PyObject *args) {
    const char *name;
    Py_ssize_t length;
    if (!PyArg_ParseTuple(args, "y#", &name, &length) || NotStarted()) return nullptr;
    const uint16_t index = SymbolOf(name, length);
    if (index >= APL_symtab.count) return failure::Raise();
    aplarray *value = ValueOf(index);
    if (!value) Py_RETURN_NONE;
    return record::Wrap(value);
}

// eval(assignment, name, expression, catch) -> (value, output, report offset or -1, interrupted)
// Runs "assignment expression" as a session line, so that an error shows the
// session's report, where assignment is the codes of "name←" and name the
// record of the hidden name (a CHAR vector). The value is taken out of the
// name, which is erased again whatever happened: a simple scalar comes as a
// Python scalar, anything else as a record; None when the line left no value.
// All of it in one call: a short expression's round trip is mostly overhead.
PyObject *Eval(PyObject *, PyObject *args) {
    const char *assignment;
    Py_ssize_t length;
    PyObject *name, *expression;
    int catching;
    if (!PyArg_ParseTuple(args, "y#OUp", &assignment, &length, &name, &expression, &catching) || NotStarted())
        return nullptr;
    aplarray *names = record::Unwrap(name);
    if (!names) return nullptr;
    if (length < 2) return PyErr_Format(PyExc_ValueError, "no name to assign to");
    std::vector<std::string> codes(1, std::string(assignment, static_cast<size_t>(length)));
    if (!codepage::FromUnicode(expression, codes[0]) ||
        !LineFits(codes[0].data(), static_cast<Py_ssize_t>(codes[0].size()), 1))
        return nullptr;
    long reportAt;
    bool interrupted;
    const std::string text = RunSession(codes, catching != 0, reportAt, interrupted);
    PyObject *value = nullptr;
    if (reportAt < 0 && !interrupted) {
        const uint16_t index = SymbolOf(assignment, length - 1);
        aplarray *array = index < APL_symtab.count ? ValueOf(index) : nullptr;
        value = !array                          ? Py_NewRef(Py_None)
                : record::IsSimpleScalar(array) ? record::Scalar(array)
                                                : record::Wrap(array);
    } else {
        value = Py_NewRef(Py_None);
    }
    aplerrno = 0;
    APL_UnLinkTemp(APL_EraseItem(nullptr, nullptr, names));
    aplerrno = 0;
    if (!value) return nullptr;
    return Py_BuildValue("(Ns#lO)", value, text.data(), static_cast<Py_ssize_t>(text.size()), reportAt,
                         interrupted ? Py_True : Py_False);
}

// assign(name, record): the checked assignment (system variables refuse bad values).
PyObject *Assign(PyObject *, PyObject *args) {
    const char *name;
    Py_ssize_t length;
    PyObject *value;
    if (!PyArg_ParseTuple(args, "y#O", &name, &length, &value) || NotStarted()) return nullptr;
    aplarray *array = record::Unwrap(value);
    if (!array) return nullptr;
    const uint16_t index = SymbolOf(name, length);
    if (index >= APL_symtab.count || !APL_Assign(index, array)) return failure::Raise();
    Py_RETURN_NONE;
}

// call(function, record) -> record or None: a function of the library's own
// (FX, EX, CR, ...) applied monadically.
PyObject *Apply(aplfunction function, PyObject *argument) {
    aplarray *array = record::Unwrap(argument);
    if (!array) return nullptr;
    aplarray *result = function(nullptr, nullptr, array);
    if (!result) {
        if (aplerrno) return failure::Raise();
        Py_RETURN_NONE;
    }
    return record::Wrap(result);
}

PyObject *Fix(PyObject *, PyObject *argument) { return NotStarted() ? nullptr : Apply(APL_Fix, argument); }
PyObject *Erase(PyObject *, PyObject *argument) { return NotStarted() ? nullptr : Apply(APL_EraseItem, argument); }
PyObject *CharRep(PyObject *, PyObject *argument) { return NotStarted() ? nullptr : Apply(APL_CharRep, argument); }
PyObject *NameList(PyObject *, PyObject *argument) { return NotStarted() ? nullptr : Apply(APL_NameList, argument); }

// release_interrupt(): SIGINT goes back to the handler the session replaced.
PyObject *ReleaseInterrupt(PyObject *, PyObject *) {
    interrupt::Release();
    Py_RETURN_NONE;
}

// blocks() -> (live blocks, sum of link counts)
PyObject *Blocks(PyObject *, PyObject *) {
    aplarray *counts = APL_MemDebug(nullptr, nullptr, nullptr);
    if (!counts) return failure::Raise();
    const int32_t *data = static_cast<const int32_t *>(APL_Data(counts));
    PyObject *result = Py_BuildValue("(ii)", data[0], data[1]);
    APL_UnLinkTemp(counts);
    return result;
}

// system_names() -> the names of the system variables and functions
PyObject *SystemNames(PyObject *, PyObject *) {
    PyObject *names = PyList_New(0);
    for (uint32_t i = 0; names && i < APL_symtab.count; ++i) {
        const aplsymbol &entry = APL_symtab.entries[i];
        if (!(entry.kind & APL_KIND_SYSTEM)) continue;
        const char *name = APL_symtab.pool + entry.name;
        PyObject *text =
            codepage::ToUnicode(reinterpret_cast<const uint8_t *>(name), static_cast<Py_ssize_t>(strlen(name)));
        if (!text || PyList_Append(names, text) != 0) Py_CLEAR(names);
        Py_XDECREF(text);
    }
    return names;
}

// codes(str) -> bytes in the APL character set; ValueError names a character outside it.
PyObject *Codes(PyObject *, PyObject *text) {
    if (!PyUnicode_Check(text)) return PyErr_Format(PyExc_TypeError, "expected a str");
    std::string codes;
    if (!codepage::FromUnicode(text, codes)) return nullptr;
    return PyBytes_FromStringAndSize(codes.data(), static_cast<Py_ssize_t>(codes.size()));
}

PyMethodDef kFunctions[] = {
    {"start", Start, METH_VARARGS, "start(tokens, messages): starts the library once"},
    {"run", Run, METH_VARARGS, "run(lines, catch) -> (output, report offset, interrupted)"},
    {"eval", Eval, METH_VARARGS,
     "eval(assignment, name, expression, catch) -> (value, output, report offset, interrupted)"},
    {"variable", Variable, METH_VARARGS, "variable(name) -> record or None"},
    {"assign", Assign, METH_VARARGS, "assign(name, record): checked assignment"},
    {"fix", Fix, METH_O, "fix(lines record) -> record of the name or the faulty line"},
    {"erase", Erase, METH_O, "erase(names record)"},
    {"char_rep", CharRep, METH_O, "char_rep(name record) -> record of the lines"},
    {"name_list", NameList, METH_O, "name_list(classes record) -> record of the names"},
    {"make", record::Make, METH_VARARGS, "make(eltype, shape, data) -> record"},
    {"release_interrupt", ReleaseInterrupt, METH_NOARGS, "release_interrupt(): SIGINT back to the handler replaced"},
    {"blocks", Blocks, METH_NOARGS, "blocks() -> (live blocks, sum of link counts)"},
    {"system_names", SystemNames, METH_NOARGS, "system_names() -> list of the system names"},
    {"codes", Codes, METH_O, "codes(str) -> bytes in the APL character set"},
    {nullptr, nullptr, 0, nullptr},
};

int ExecModule(PyObject *module) {
    if (!record::AddType(module) || !failure::AddType(module)) return -1;
    const struct {
        const char *name;
        int value;
    } constants[] = {{"CHAR", APL_CHAR}, {"INTG", APL_INTG},     {"REAL", APL_REAL},
                     {"BOOL", APL_BOOL}, {"NESTED", APL_NESTED}, {"SHORT", APL_SHORT}};
    for (const auto &constant : constants)
        if (PyModule_AddIntConstant(module, constant.name, constant.value) != 0) return -1;
    return 0;
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void *>(ExecModule)}, {0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_orbax", "The orbax APL library in Python (internal).", 0, kFunctions,
                       kSlots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__orbax(void) { return PyModuleDef_Init(&kModule); }
