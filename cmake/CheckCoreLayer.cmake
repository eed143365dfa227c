# Fails the build when the library reaches into the tool: every file under
# CORE_DIRS may include only its own headers ("core/...", "metric/..."), the
# public header, OpenCV's core and imgproc, Highway, and the C++ and C standard
# headers, and may not read the environment, load code, start processes or
# write to the standard streams.
#   cmake -DSOURCE_DIR=... -P CheckCoreLayer.cmake
set(_core_dirs src/core src/metric include/morvex)
set(_allowed_include "^#[ \t]*include[ \t]*(\"(core|metric)/[a-z_0-9]+\\.h\"|<morvex/morvex\\.h>|<opencv2/(core|imgproc)(\\.hpp|/[a-z_/]+\\.hpp)>|<hwy/[a-z_]+\\.h>|<[a-z_0-9]+>)")
set(_forbidden "getenv|dlopen|dlsym|fork[ \t]*\\(|popen|std::system|std::cout|std::cerr|std::clog|std::cin|stdout|stderr|thread_local|<iostream>")

set(_failures "")
foreach(_dir ${_core_dirs})
  file(GLOB _files "${SOURCE_DIR}/${_dir}/*.h" "${SOURCE_DIR}/${_dir}/*.cpp")
  foreach(_file ${_files})
    file(STRINGS "${_file}" _lines)
    set(_number 0)
    foreach(_line IN LISTS _lines)
      math(EXPR _number "${_number} + 1")
      if(_line MATCHES "^#[ \t]*include" AND NOT _line MATCHES "${_allowed_include}")
        string(APPEND _failures "\n  ${_file}:${_number}: ${_line}")
      elseif(_line MATCHES "${_forbidden}" AND NOT _line MATCHES "^[ \t]*//")
        string(APPEND _failures "\n  ${_file}:${_number}: ${_line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(_failures)
  message(FATAL_ERROR "The library may use only its own headers, OpenCV core and imgproc, and no I/O "
                      "besides the camera file:${_failures}")
endif()
