# What `cmake --install` puts under the prefix: the library with its soname, the public headers,
# and the files by which another project finds the library: a CMake package and a pkg-config
# file. The catalogs (messages/) and snaphost with its manual page (tools/) install themselves.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(PiSNP INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS PiSNP EXPORT PiSNPTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

set(PISNP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/PiSNP)
install(EXPORT PiSNPTargets NAMESPACE PiSNP:: DESTINATION ${PISNP_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PiSNPConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/PiSNPConfig.cmake
                              INSTALL_DESTINATION ${PISNP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PiSNPConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PiSNPConfig.cmake ${PROJECT_BINARY_DIR}/PiSNPConfigVersion.cmake
        DESTINATION ${PISNP_CMAKE_DIR})

# pkg-config: paths relative to the file itself, so the tree may be installed under any prefix.
file(RELATIVE_PATH PISNP_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/pisnp.pc.in ${PROJECT_BINARY_DIR}/pisnp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pisnp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
