#include "numpy_images.h"

#include <climits>
#include <cstdint>

namespace py = pybind11;

namespace {

std::string shapeText(const py::array& array)
{
    std::string text = "(";
    for (py::ssize_t d = 0; d < array.ndim(); ++d)
        text += (d > 0 ? ", " : "") + std::to_string(array.shape(d));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

template <typename Element>
ArrayImage arrayImage(py::handle argument, const std::string& label, int type, const std::string& wanted)
{
    if (!py::isinstance<py::array>(argument))
        throw py::type_error(label + ": is a " + typeName(argument) + ", not a numpy array");
    // Equal element types, byte order included.
    if (!py::isinstance<py::array_t<Element>>(argument))
        throw py::type_error(label + ": is a " + py::str(argument.attr("dtype")).cast<std::string>() + " array; " +
                             wanted);
    auto array = py::reinterpret_borrow<py::array>(argument);
    if (array.ndim() != 2)
        throw py::value_error(label + ": has shape " + shapeText(array) +
                              "; it must be 2-D: rows, columns, one value per pixel");
    const py::ssize_t rows = array.shape(0), cols = array.shape(1);
    if (rows > INT_MAX || cols > INT_MAX)
        throw py::value_error(label + ": has shape " + shapeText(array) + ", more rows or columns than " +
                              std::to_string(INT_MAX));

    const py::ssize_t element = sizeof(Element);
    const py::ssize_t rowStep = array.strides(0);
    // A buffer may start at any byte (frombuffer with an offset), and an
    // element read at an address that is not a multiple of its alignment is
    // undefined: such arrays are copied, as arrays with other strides are (a
    // fresh numpy array is aligned).
    const bool aligned = reinterpret_cast<std::uintptr_t>(array.data()) % alignof(Element) == 0;
    const bool sharable = aligned && array.strides(1) == element && rowStep >= cols * element && rowStep % element == 0;
    if (!sharable)
        array = array.attr("copy")("C");
    // The metric only reads its inputs, so read-only arrays are fine.
    void* data = const_cast<void*>(array.data());
    const auto step = static_cast<std::size_t>(array.strides(0));
    return {cv::Mat(static_cast<int>(rows), static_cast<int>(cols), type, data, step), array};
}

} // namespace

std::string typeName(py::handle argument)
{
    return py::str(argument.get_type().attr("__name__")).cast<std::string>();
}

ArrayImage greyImageArgument(py::handle argument, const std::string& label)
{
    return arrayImage<uint8_t>(argument, label, CV_8U, "images must be uint8 (8-bit grey)");
}

ArrayImage floatMapArgument(py::handle argument, const std::string& label)
{
    return arrayImage<float>(argument, label, CV_32F, "views and disparity maps must be float32");
}

py::array_t<uint8_t> imageArray(const cv::Mat& image)
{
    auto* owner = new cv::Mat(image);
    py::capsule release(owner, [](void* mat) { delete static_cast<cv::Mat*>(mat); });
    const auto rowStep = static_cast<py::ssize_t>(owner->step[0]);
    const auto channels = static_cast<py::ssize_t>(owner->channels());
    if (channels == 1)
        return py::array_t<uint8_t>({owner->rows, owner->cols}, {rowStep, py::ssize_t(1)}, owner->data, release);
    return py::array_t<uint8_t>({py::ssize_t(owner->rows), py::ssize_t(owner->cols), channels},
                                {rowStep, channels, py::ssize_t(1)}, owner->data, release);
}

py::array_t<float> floatMapArray(const cv::Mat& map)
{
    auto* owner = new cv::Mat(map);
    py::capsule release(owner, [](void* mat) { delete static_cast<cv::Mat*>(mat); });
    return py::array_t<float>({owner->rows, owner->cols},
                              {static_cast<py::ssize_t>(owner->step[0]), static_cast<py::ssize_t>(sizeof(float))},
                              reinterpret_cast<const float*>(owner->data), release);
}
