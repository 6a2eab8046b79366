# Debian packages made by `cpack -G DEB` from the install components: libtorvexin1 (runtime: the
# shared library and its private module folder), libtorvexin-dev (dev: header, links, static
# library, pkg-config and CMake files), torvexin-tools (tool: tvx, tvx-probe, their manual
# pages) and python3-torvexin (python: the Python package), each depending on the library
# package of the same version. Plain `cpack` makes a tarball of the whole install.
set(CPACK_PACKAGE_NAME torvexin)
set(CPACK_PACKAGE_VENDOR "The Torvexin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "Torvexin developers <maintainers@torvexin.invalid>")
endif()
set(CPACK_GENERATOR TGZ)
set(CPACK_COMPONENTS_ALL runtime dev python)
if(TARGET tvx)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian ships stripped binaries; the debugging information stays in the build tree.
set(CPACK_STRIP_FILES ON)

set(tvx_runtime_package libtorvexin${PROJECT_VERSION_MAJOR})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${tvx_runtime_package})
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtorvexin-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME torvexin-tools)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-torvexin)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any")
# The first line is the synopsis; Debian wants the others no longer than 79 columns.
string(CONCAT CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "disc-recording engine with a flat C interface\n"
  "Torvexin records data folders, file sets and DVD-Video folders onto DVD\n"
  "media as ISO 9660 and UDF volumes, reads UDF discs back, and reaches\n"
  "drives through the kernel's SCSI pass-through.\n"
  "This package holds the shared library.")
string(CONCAT CPACK_COMPONENT_DEV_DESCRIPTION
  "disc-recording engine with a flat C interface - development files\n"
  "Torvexin records data folders, file sets and DVD-Video folders onto DVD\n"
  "media as ISO 9660 and UDF volumes.\n"
  "This package holds the C header, the static library, and the pkg-config\n"
  "and CMake package files.")
string(CONCAT CPACK_COMPONENT_TOOL_DESCRIPTION
  "command-line disc recorder built on Torvexin\n"
  "tvx lists drives, burns data folders, file sets and DVD-Video folders,\n"
  "erases discs, makes volume images and checks discs, on real drives or on\n"
  "virtual recorders backed by image files.")
string(CONCAT CPACK_COMPONENT_PYTHON_DESCRIPTION
  "disc-recording engine with a flat C interface - Python 3 module\n"
  "The torvexin module finds drives, burns folders, file sets and images onto\n"
  "DVDs, verifies them, erases rewritable discs and reads files back, through\n"
  "the Torvexin library (ctypes).")
# The development files and the tool need the library of exactly this build.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
# Dependencies on the system's libraries come from dpkg-shlibdeps; the library package declares
# its own shlibs so that packages built against it depend on it. The tool's libtorvexin.so.1 is
# found in the build tree, since no installed package provides it yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# The library's loader cache learns of a new library through dpkg's trigger alone. cpack would
# add postinst and postrm scripts that call ldconfig as well, unless the extra control files
# name such scripts: they are named and never made, and cpack adds only the files that exist.
file(WRITE ${PROJECT_BINARY_DIR}/deb/runtime/triggers "activate-noawait ldconfig\n")
file(REMOVE ${PROJECT_BINARY_DIR}/deb/runtime/postinst ${PROJECT_BINARY_DIR}/deb/runtime/postrm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/runtime/triggers
  ${PROJECT_BINARY_DIR}/deb/runtime/postinst ${PROJECT_BINARY_DIR}/deb/runtime/postrm)

# What Debian asks of each package beyond the installed files (copyright, changelog, compressed
# manual pages) is added to the staged packages by cmake/deb-staging.cmake. The changelog entry
# is dated by the source's last commit when there is one, so two builds of a source agree.
set(tvx_changelog_date "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%cD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE tvx_changelog_date
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT tvx_changelog_date)
  string(TIMESTAMP tvx_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
set(CPACK_TVX_CHANGELOG_DATE "${tvx_changelog_date}")
set(CPACK_TVX_LICENSE_FILE ${PROJECT_SOURCE_DIR}/LICENSE)
# The static library and the pkg-config file are made fit for the system's folders there.
set(CPACK_TVX_STRIP ${CMAKE_STRIP})
set(CPACK_TVX_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-staging.cmake)

include(CPack)
