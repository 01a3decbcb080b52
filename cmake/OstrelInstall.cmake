# Installation: public headers, both libraries, the command-line tool, a CMake package
# (find_package(OstrelDAQEngine) -> Ostrel::DAQEngine, Ostrel::BoardSim) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(OstrelDAQEngine PROPERTIES EXPORT_NAME DAQEngine
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(OstrelBoardSim PROPERTIES EXPORT_NAME BoardSim
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(OstrelDAQEngine INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(OstrelBoardSim INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# Relocatable run paths: the engine finds the simulator beside it, the tool finds both in the
# library folder next to its own, wherever the tree is installed or moved.
if(UNIX AND NOT APPLE)
  file(RELATIVE_PATH OSTREL_BIN_TO_LIB /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(OstrelDAQEngine OstrelBoardSim PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET ostrel-daq)
    set_target_properties(ostrel-daq PROPERTIES INSTALL_RPATH "$ORIGIN/${OSTREL_BIN_TO_LIB}")
  endif()
endif()

install(TARGETS OstrelDAQEngine OstrelBoardSim EXPORT OstrelTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/OstrelDAQEngine.h
              ${PROJECT_SOURCE_DIR}/platform/sim/OstrelBoardSim.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET ostrel-daq)
  install(TARGETS ostrel-daq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(OSTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OstrelDAQEngine)
install(EXPORT OstrelTargets NAMESPACE Ostrel:: FILE OstrelDAQEngineTargets.cmake
        DESTINATION ${OSTREL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OstrelDAQEngineConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OstrelDAQEngineConfig.cmake INSTALL_DESTINATION ${OSTREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OstrelDAQEngineConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OstrelDAQEngineConfig.cmake
              ${PROJECT_BINARY_DIR}/OstrelDAQEngineConfigVersion.cmake
        DESTINATION ${OSTREL_CMAKE_DIR})

# Relocatable: the prefix is found from where the .pc file lies, so an install with --prefix works.
file(RELATIVE_PATH OSTREL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel-daq-engine.pc.in
               ${PROJECT_BINARY_DIR}/ostrel-daq-engine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ostrel-daq-engine.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
