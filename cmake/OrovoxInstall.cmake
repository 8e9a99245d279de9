# Installation: the library, the host and API archives, the headers, a CMake
# package (find_package(Orovox) gives Orovox::orovox_api) and orovox.pc.
include(CMakePackageConfigHelpers)

install(TARGETS orovox LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS orovox_host orovox_api EXPORT OrovoxTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
          include/orovox/orovox.h include/orovox/host.h include/orovox/entries.h
          include/orovox/records.h include/orovox/entry_table.def
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orovox)

set(OROVOX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orovox)
install(EXPORT OrovoxTargets NAMESPACE Orovox:: DESTINATION ${OROVOX_CMAKE_DIR})
configure_package_config_file(cmake/OrovoxConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/OrovoxConfig.cmake
                              INSTALL_DESTINATION ${OROVOX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrovoxConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrovoxConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/OrovoxConfigVersion.cmake
        DESTINATION ${OROVOX_CMAKE_DIR})

# The prefix is taken when the file is read, so that an install into another
# prefix (cmake --install --prefix) still points at itself.
install(CODE "
  file(READ \"${CMAKE_CURRENT_SOURCE_DIR}/cmake/orovox.pc.in\" pc)
  string(REPLACE \"@PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  string(REPLACE \"@LIBDIR@\" \"${CMAKE_INSTALL_LIBDIR}\" pc \"\${pc}\")
  string(REPLACE \"@INCLUDEDIR@\" \"${CMAKE_INSTALL_INCLUDEDIR}\" pc \"\${pc}\")
  string(REPLACE \"@VERSION@\" \"${PROJECT_VERSION}\" pc \"\${pc}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/orovox.pc\" \"\${pc}\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/orovox.pc\")
")
