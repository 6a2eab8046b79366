# What `cmake --install` puts under the prefix. Every installed path is relative to the prefix,
# so the installed tree works wherever it is moved: the library finds the ASPI layer module in
# its private folder beside itself, tvx finds the library from its own folder, torvexin.pc
# computes its prefix from its own place and the CMake package from its own.
# Components, one package each (cmake/packaging.cmake): runtime (what a program of the library
# needs to run), dev (what building one needs), tool (the command-line host) and python (the
# Python package).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TVX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Torvexin)

install(FILES include/torvexin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set_target_properties(torvexin_static PROPERTIES EXPORT_NAME torvexin_static)
# A program that links the library statically has no library file to find the private module
# folder beside: the installed interface names the folder in the program's run path, where the
# library looks for it (src/platform/posix/posix_modules.cpp).
set(TVX_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/${TVX_PRIVATE_MODULE_FOLDER})
if(IS_ABSOLUTE "${TVX_INSTALL_MODULEDIR}")
  set(tvx_installed_moduledir "${TVX_INSTALL_MODULEDIR}")
else()
  set(tvx_installed_moduledir "$<INSTALL_PREFIX>/${TVX_INSTALL_MODULEDIR}")
endif()
target_link_options(torvexin_static INTERFACE
  $<INSTALL_INTERFACE:LINKER:-rpath,${tvx_installed_moduledir}>)
install(TARGETS torvexin torvexin_static EXPORT TorvexinTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
    NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The layer is the library's own module, not one to link against: it goes into the private folder
# beside the library, where the library opens it by absolute path.
install(TARGETS wnaspi32 LIBRARY DESTINATION ${TVX_INSTALL_MODULEDIR} COMPONENT runtime)

if(TARGET tvx)
  # The installed tvx: the same objects, linked with the installed tree's run path.
  file(RELATIVE_PATH tvx_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  add_executable(tvx_installed $<TARGET_OBJECTS:tvx_objects>)
  target_link_libraries(tvx_installed PRIVATE torvexin torvexin_static tvx_aspi_layer_config)
  set_target_properties(tvx_installed PROPERTIES
    OUTPUT_NAME tvx
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/installed/bin
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN/${tvx_bin_to_lib}")
  install(TARGETS tvx_installed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  # The manual page, looked for at install time rather than when the build is configured.
  install(FILES tools/tvx/tvx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool
    OPTIONAL)
endif()
install(FILES LICENSE README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# The Python package: Python alone over the installed shared library (ctypes), in the folder
# every Python 3 of Debian reads, told at installation where the library lies relative to it.
set(TVX_INSTALL_PYTHONDIR lib/python3/dist-packages/torvexin)
set(tvx_soname libtorvexin.so.${PROJECT_VERSION_MAJOR})
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TVX_PYTHON_TO_LIBRARY "${CMAKE_INSTALL_LIBDIR}/${tvx_soname}")
else()
  file(RELATIVE_PATH TVX_PYTHON_TO_LIBRARY /root/${TVX_INSTALL_PYTHONDIR}
    /root/${CMAKE_INSTALL_LIBDIR}/${tvx_soname})
endif()
configure_file(python/torvexin/_paths.py.in ${PROJECT_BINARY_DIR}/python/torvexin/_paths.py @ONLY)
install(FILES python/torvexin/__init__.py python/torvexin/_library.py python/torvexin/py.typed
              ${PROJECT_BINARY_DIR}/python/torvexin/_paths.py
  DESTINATION ${TVX_INSTALL_PYTHONDIR} COMPONENT python)

# pkg-config: the prefix is found from the .pc file's own folder.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TVX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TVX_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TVX_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  set(TVX_PC_MODULEDIR "${CMAKE_INSTALL_FULL_LIBDIR}/${TVX_PRIVATE_MODULE_FOLDER}")
else()
  file(RELATIVE_PATH tvx_pc_up /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  string(REGEX REPLACE "/$" "" tvx_pc_up "${tvx_pc_up}")
  set(TVX_PC_PREFIX "\${pcfiledir}/${tvx_pc_up}")
  set(TVX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TVX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  set(TVX_PC_MODULEDIR "\${libdir}/${TVX_PRIVATE_MODULE_FOLDER}")
endif()
set(TVX_PC_DL "")
foreach(lib IN LISTS CMAKE_DL_LIBS)
  string(APPEND TVX_PC_DL " -l${lib}")
endforeach()
string(STRIP "${TVX_PC_DL}" TVX_PC_DL)
# The C++ runtime, as the static library's CMake interface names it.
set(TVX_PC_CXX "")
foreach(lib IN LISTS tvx_cxx_runtime)
  string(APPEND TVX_PC_CXX " -l${lib}")
endforeach()
string(STRIP "${TVX_PC_CXX}" TVX_PC_CXX)
configure_file(cmake/torvexin.pc.in ${PROJECT_BINARY_DIR}/torvexin.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/torvexin.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# CMake package: find_package(Torvexin) gives Torvexin::torvexin (and Torvexin::torvexin_static).
install(EXPORT TorvexinTargets NAMESPACE Torvexin:: DESTINATION ${TVX_INSTALL_CMAKEDIR}
  COMPONENT dev)
configure_package_config_file(cmake/TorvexinConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TorvexinConfig.cmake INSTALL_DESTINATION ${TVX_INSTALL_CMAKEDIR}
  PATH_VARS TVX_INSTALL_MODULEDIR)
# The soname changes with the major version, and so may the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TorvexinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TorvexinConfig.cmake
              ${PROJECT_BINARY_DIR}/TorvexinConfigVersion.cmake
  DESTINATION ${TVX_INSTALL_CMAKEDIR} COMPONENT dev)
