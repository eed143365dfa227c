# Installs the library for C++ programs: libmorvex.a, include/morvex/morvex.h,
# a CMake package (find_package(morvex CONFIG) gives morvex::morvex) and a
# pkg-config file (morvex.pc).
include(CMakePackageConfigHelpers)
set(MORVEX_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/morvex)

install(TARGETS morvex_core EXPORT morvexTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/morvex/morvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morvex)
install(EXPORT morvexTargets NAMESPACE morvex:: DESTINATION ${MORVEX_CMAKE_INSTALL_DIR})

configure_package_config_file(cmake/morvexConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/morvexConfig.cmake
  INSTALL_DESTINATION ${MORVEX_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/morvexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/morvexConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/morvexConfigVersion.cmake
  DESTINATION ${MORVEX_CMAKE_INSTALL_DIR})

# The prefix relative to the file, so that an installed tree can be moved.
file(RELATIVE_PATH MORVEX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/morvex.pc.in ${CMAKE_CURRENT_BINARY_DIR}/morvex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/morvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
