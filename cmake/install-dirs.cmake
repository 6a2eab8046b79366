# The install folders (GNUInstallDirs), chosen before any part of the build reads them. On Debian
# and its derivatives libraries go into the multiarch folder under every prefix, as
# GNUInstallDirs chooses it for /usr alone: the loader and pkg-config look there under /usr/local
# too, and the Debian packages made from the tree need it. A folder given is kept; a tree
# configured before this choice (GNUInstallDirs' "lib" in its cache) is moved once.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version
   AND NOT DEFINED CACHE{TVX_MULTIARCH_LIBDIR})
  if(NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR} OR
     ("$CACHE{CMAKE_INSTALL_LIBDIR}" STREQUAL "lib" AND
      DEFINED CACHE{_GNUInstallDirs_LAST_CMAKE_INSTALL_PREFIX}))
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries (lib/${CMAKE_LIBRARY_ARCHITECTURE})" FORCE)
  endif()
  set(TVX_MULTIARCH_LIBDIR ON CACHE INTERNAL "The library folder was chosen")
endif()
include(GNUInstallDirs)
