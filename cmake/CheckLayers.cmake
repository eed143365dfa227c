# Fails the build when a layer reaches into a layer above it:
#  - the library (src/metric, src/core, include/morvex) may include only its
#    own headers, the public header, OpenCV's core and imgproc, Highway and
#    the standard headers; the metric may not include the rest of the library
#    (src/core builds on src/metric, not the other way round); and the library
#    may not read the environment, load code, start processes or use the
#    standard streams;
#  - the readers (src/readers) may include their own headers, the public
#    header, the plugin interface, OpenCV's core, libpng and its zlib,
#    libdeflate (which inflates PNG image data whole), Highway (whose vector
#    code reverses PNG row filters) and the standard and system headers, but
#    nothing of the tool or of the library's insides.
#   cmake -DSOURCE_DIR=... -P CheckLayers.cmake
set(_std "<[a-z_0-9]+>|<[a-z_0-9]+\\.h>|<sys/[a-z_]+\\.h>")
set(_opencv_core "<opencv2/core(\\.hpp|/[a-z_/]+\\.hpp)>")
set(_metric_include "^#[ \t]*include[ \t]*(\"metric/[a-z_0-9]+\\.h\"|<morvex/morvex\\.h>|<opencv2/(core|imgproc)(\\.hpp|/[a-z_/]+\\.hpp)>|<hwy/[a-z_]+\\.h>|<[a-z_0-9]+>)")
set(_core_include "^#[ \t]*include[ \t]*(\"(core|metric)/[a-z_0-9]+\\.h\"|<morvex/morvex\\.h>|<opencv2/(core|imgproc)(\\.hpp|/[a-z_/]+\\.hpp)>|<hwy/[a-z_]+\\.h>|<[a-z_0-9]+>)")
set(_readers_include "^#[ \t]*include[ \t]*(\"readers/[a-z_0-9]+\\.h\"|\"plugins/plugin_api\\.h\"|<morvex/morvex\\.h>|${_opencv_core}|<png\\.h>|<zlib\\.h>|<libdeflate\\.h>|<hwy/[a-z_]+\\.h>|${_std})")
set(_library_forbidden "getenv|dlopen|dlsym|fork[ \t]*\\(|popen|std::system|std::cout|std::cerr|std::clog|std::cin|stdout|stderr|thread_local|<iostream>")

set(_failures "")
function(check_layer dirs allowed forbidden)
  foreach(_dir ${dirs})
    file(GLOB _files "${SOURCE_DIR}/${_dir}/*.h" "${SOURCE_DIR}/${_dir}/*.cpp")
    foreach(_file ${_files})
      file(STRINGS "${_file}" _lines)
      set(_number 0)
      foreach(_line IN LISTS _lines)
        math(EXPR _number "${_number} + 1")
        if(_line MATCHES "^#[ \t]*include" AND NOT _line MATCHES "${allowed}")
          string(APPEND _failures "\n  ${_file}:${_number}: ${_line}")
        elseif(forbidden AND _line MATCHES "${forbidden}" AND NOT _line MATCHES "^[ \t]*//")
          string(APPEND _failures "\n  ${_file}:${_number}: ${_line}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(_failures "${_failures}" PARENT_SCOPE)
endfunction()

check_layer("src/metric" "${_metric_include}" "${_library_forbidden}")
check_layer("src/core;include/morvex" "${_core_include}" "${_library_forbidden}")
check_layer("src/readers" "${_readers_include}" "")
if(_failures)
  message(FATAL_ERROR "A layer uses a layer above it (library: its own headers, OpenCV core and imgproc, no I/O "
                      "besides the camera file; readers: their own headers, the library's public header, OpenCV "
                      "core, libpng, libdeflate and Highway):${_failures}")
endif()
