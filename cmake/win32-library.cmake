# Torvexin.dll for 32-bit Windows: exactly the TVX_* functions, undecorated (torvexin.def with
# --kill-at), an import library, the exports also written out as Torvexin.def for other
# toolchains, the version resource and the module entry. Included by the top-level CMakeLists.
enable_language(RC)

set(TVX_DEF_FILE ${PROJECT_SOURCE_DIR}/src/platform/win32/torvexin.def)
target_sources(torvexin PRIVATE
  ${PROJECT_SOURCE_DIR}/src/platform/win32/dll_main.cpp
  ${PROJECT_SOURCE_DIR}/src/frame/version.rc)
target_include_directories(torvexin PRIVATE ${PROJECT_SOURCE_DIR}/src)
set_target_properties(torvexin PROPERTIES
  OUTPUT_NAME Torvexin
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".lib"
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
target_link_options(torvexin PRIVATE
  ${TVX_DEF_FILE}
  -Wl,--kill-at
  -Wl,--output-def,${PROJECT_BINARY_DIR}/bin/Torvexin.def
  -Wl,--no-undefined)
set_property(TARGET torvexin APPEND PROPERTY LINK_DEPENDS ${TVX_DEF_FILE})

# The version resource is read through the version APIs.
target_link_libraries(torvexin PRIVATE version)
# The static library is made after this file is read.
cmake_language(DEFER CALL target_link_libraries torvexin_static PUBLIC version)

# The command-line host and the benchmarks use POSIX terminals and resource limits; they are
# Linux programs.
set(TVX_BUILD_TOOLS OFF)
set(TVX_BUILD_BENCH OFF)
