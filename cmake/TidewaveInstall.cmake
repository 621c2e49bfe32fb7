# The add-on SDK: headers, the platform library, the kit, the resource tool,
# add_addon() and a package configuration, so that an add-on written outside
# this tree builds with find_package(Tidewave).
include(CMakePackageConfigHelpers)

install(TARGETS tidewave-platform tidewave-filterkit tw-resources
  EXPORT TidewaveTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/platform/include/platform
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tidewave)
# CFilter.h and FilterKit.h are what authors read and include; AddonAbi.h is
# the stamp that AddonEntry.cpp compiles into every add-on.
install(FILES ${CMAKE_SOURCE_DIR}/filterkit/CFilter.h ${CMAKE_SOURCE_DIR}/filterkit/FilterKit.h
  ${CMAKE_SOURCE_DIR}/filterkit/AddonAbi.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tidewave)
install(FILES ${TW_ADDON_ENTRY_SOURCE}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tidewave)
# What the host does with a filter: its commands, scales and fade.
install(FILES ${CMAKE_SOURCE_DIR}/docs/host.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(TW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tidewave)
install(EXPORT TidewaveTargets NAMESPACE Tidewave:: DESTINATION ${TW_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/TidewaveConfig.cmake.in
  ${CMAKE_BINARY_DIR}/TidewaveConfig.cmake
  INSTALL_DESTINATION ${TW_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TidewaveConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/TidewaveConfig.cmake
  ${CMAKE_BINARY_DIR}/TidewaveConfigVersion.cmake
  ${CMAKE_SOURCE_DIR}/cmake/AddAddon.cmake
  DESTINATION ${TW_CMAKE_DIR})
