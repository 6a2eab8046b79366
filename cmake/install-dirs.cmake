# The install folders (GNUInstallDirs), chosen before any part of the build reads them. On Debian
# and its derivatives libraries go into the multiarch folder under every prefix, as
# GNUInstallDirs chooses it for /usr alone: the loader and pkg-config look there under /usr/local
# too, and the Debian packages made from the tree need it. A tree configured before this choice
# holds GNUInstallDirs' "lib" and is moved once; a folder given afterwards stays as given.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version AND NOT DEFINED CACHE{TVX_MULTIARCH_LIBDIR}
   AND (NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR} OR "$CACHE{CMAKE_INSTALL_LIBDIR}" STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
    "Object code libraries (lib/${CMAKE_LIBRARY_ARCHITECTURE})" FORCE)
  set(TVX_MULTIARCH_LIBDIR ON CACHE INTERNAL "The multiarch library folder was chosen")
endif()
include(GNUInstallDirs)
