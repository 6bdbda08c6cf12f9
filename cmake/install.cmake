# What `cmake --install` puts under the prefix besides the library and the
# tool: the public header, a pkg-config file and a CMake package giving
# quorvel::ffi. Every version number comes from the header through
# PROJECT_VERSION.
include(CMakePackageConfigHelpers)

install(FILES ${PROJECT_SOURCE_DIR}/include/quorvel/quorvel.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvel)

# pkg-config: the prefix is found from the .pc file's own place, so the tree
# works under any --prefix given at install time.
set(_quorvel_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QUORVEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(QUORVEL_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(QUORVEL_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _quorvel_up "/prefix/${_quorvel_pc_dir}" "/prefix")
  set(QUORVEL_PC_PREFIX "\${pcfiledir}/${_quorvel_up}")
  string(REGEX REPLACE "/$" "" QUORVEL_PC_PREFIX "${QUORVEL_PC_PREFIX}")
  set(QUORVEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(QUORVEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvel.pc.in ${PROJECT_BINARY_DIR}/quorvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorvel.pc DESTINATION ${_quorvel_pc_dir})

# CMake package: find_package(quorvel) gives the imported target quorvel::ffi.
set(_quorvel_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/quorvel")
install(EXPORT quorvelTargets NAMESPACE quorvel:: DESTINATION ${_quorvel_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorvelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorvelConfig.cmake
  INSTALL_DESTINATION ${_quorvel_cmake_dir})
# Before 1.0 a minor release may change the interface.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(_quorvel_compatibility SameMinorVersion)
else()
  set(_quorvel_compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvelConfigVersion.cmake
  COMPATIBILITY ${_quorvel_compatibility})
install(FILES ${PROJECT_BINARY_DIR}/quorvelConfig.cmake
              ${PROJECT_BINARY_DIR}/quorvelConfigVersion.cmake
        DESTINATION ${_quorvel_cmake_dir})
