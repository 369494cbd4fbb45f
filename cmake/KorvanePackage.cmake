# Installs the CMake package "Korvane" so that other programs can use the reading core without the GUI.
include(CMakePackageConfigHelpers)
set(KORVANE_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Korvane)
install(EXPORT KorvaneTargets NAMESPACE Korvane:: DESTINATION ${KORVANE_CMAKE_INSTALL_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KorvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KorvaneConfig.cmake INSTALL_DESTINATION ${KORVANE_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KorvaneConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/KorvaneConfigVersion.cmake
  DESTINATION ${KORVANE_CMAKE_INSTALL_DIR})
