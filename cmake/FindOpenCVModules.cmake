# Finds the four OpenCV modules the project uses without requiring the whole
# OpenCV development meta-package (which is the only one that ships a CMake
# config on Debian).
find_path(OpenCVModules_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
# MORVEX_CORE_ONLY needs core and imgproc alone.
set(_modules core imgproc)
set(_required OpenCVModules_core_LIBRARY OpenCVModules_imgproc_LIBRARY)
if(NOT MORVEX_CORE_ONLY)
  list(APPEND _modules imgcodecs highgui)
  list(APPEND _required OpenCVModules_imgcodecs_LIBRARY OpenCVModules_highgui_LIBRARY)
endif()
set(_missing "")
foreach(_module ${_modules})
  find_library(OpenCVModules_${_module}_LIBRARY NAMES opencv_${_module})
  if(NOT OpenCVModules_${_module}_LIBRARY)
    list(APPEND _missing ${_module})
  elseif(NOT TARGET OpenCV::${_module})
    add_library(OpenCV::${_module} UNKNOWN IMPORTED)
    set_target_properties(OpenCV::${_module} PROPERTIES
      IMPORTED_LOCATION "${OpenCVModules_${_module}_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${OpenCVModules_INCLUDE_DIR}")
  endif()
endforeach()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCVModules
  REQUIRED_VARS OpenCVModules_INCLUDE_DIR ${_required}
  REASON_FAILURE_MESSAGE "missing OpenCV modules: ${_missing} (run scripts/setup)")
