#include "input_error.h"

namespace py = pybind11;

namespace {

const char* const kKeys[] = {"left",         "right",         "depth_left_a", "depth_right_a",
                             "depth_left_b", "depth_right_b", "camera",       ""};

// The class, made once when the module is imported and kept for the process.
PyObject* inputErrorType = nullptr;

py::object noneIfEmpty(const std::string& text)
{
    return text.empty() ? py::none() : py::object(py::str(text));
}

} // namespace

const char* inputKey(morvex::Input input)
{
    return kKeys[static_cast<int>(input)];
}

morvex::Input imageInputArgument(const std::string& key, const std::string& label)
{
    for (int i = 0; i < 6; ++i)
        if (key == kKeys[i])
            return static_cast<morvex::Input>(i);
    throw py::value_error(label + ": is '" + key + "'; give one of left, right, depth_left_a, depth_right_a, "
                                                   "depth_left_b, depth_right_b");
}

void throwInputError(const std::string& message, morvex::Input input, const std::string& path,
                     const std::string& problem)
{
    py::object error = py::reinterpret_borrow<py::object>(inputErrorType)(message);
    error.attr("input") = noneIfEmpty(inputKey(input));
    error.attr("path") = noneIfEmpty(path);
    error.attr("problem") = problem;
    error.attr("message") = message;
    PyErr_SetObject(inputErrorType, error.ptr());
    throw py::error_already_set();
}

void throwArgumentError(const std::string& name, morvex::Input input, const std::string& problem)
{
    throwInputError(name + " (" + morvex::inputRole(input) + "): " + problem, input, "", problem);
}

void bindInputError(py::module_& m)
{
    inputErrorType = PyErr_NewExceptionWithDoc(
        "morvex._native.InputError",
        "Input that cannot be scored, with the command line's message: str(error) names the file (or the "
        "argument), its role and the problem. Attributes: input (left, right, depth_left_a, depth_right_a, "
        "depth_left_b, depth_right_b, camera, or None), path (the file, or None), problem, message.",
        PyExc_ValueError, nullptr);
    if (inputErrorType == nullptr)
        throw py::error_already_set();
    m.attr("InputError") = py::reinterpret_borrow<py::object>(inputErrorType);
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const morvex::Error& e) {
            try {
                throwInputError(e.what(), e.input(), e.path(), e.problem());
            } catch (py::error_already_set& raised) {
                raised.restore();
            }
        }
    });
}
