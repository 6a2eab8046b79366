# Run by cpack on the staged packages, before they are made: adds what Debian asks of each
# binary package beyond the installed files. In usr/share/doc/PACKAGE the copyright (with the licence)
# and a changelog compressed with gzip -9n (no name or time in the header, so two runs make the
# same bytes); manual pages compressed the same way. The static library loses its debugging
# information, and the pkg-config file names the system's folders plainly, since the package
# is never moved.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(TVX_GZIP gzip REQUIRED)

function(tvx_gzip file)
  execute_process(COMMAND ${TVX_GZIP} -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# The copyright in Debian's machine-readable form, the licence's text as its paragraph.
file(READ ${CPACK_TVX_LICENSE_FILE} licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n" "\n " licence "${licence}")
string(REGEX REPLACE "\n [ \t]*\n" "\n .\n" licence "${licence}")
string(REGEX REPLACE "\n [ \t]*\n" "\n .\n" licence "${licence}")
# Dated by the year of the changelog's date, the source's last commit.
string(REGEX MATCH "[0-9][0-9][0-9][0-9]" year "${CPACK_TVX_CHANGELOG_DATE}")
string(CONCAT copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: Torvexin\n\n"
  "Files: *\n"
  "Copyright: ${year} The Torvexin developers\n"
  "License: Expat\n"
  " ${licence}\n")

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(root ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  if(NOT package OR NOT IS_DIRECTORY ${root})
    message(FATAL_ERROR "deb-staging: no staged files or no package name for '${component}'")
  endif()
  set(doc ${root}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(WRITE ${doc}/copyright "${copyright}")
  file(WRITE ${doc}/changelog
    "torvexin (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${CPACK_PACKAGE_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${CPACK_TVX_CHANGELOG_DATE}\n")
  tvx_gzip(${doc}/changelog)
  file(GLOB static ${root}/${CPACK_TVX_LIBDIR}/*.a)
  foreach(archive IN LISTS static)
    execute_process(COMMAND ${CPACK_TVX_STRIP} --strip-debug --remove-section=.comment
      --remove-section=.note --enable-deterministic-archives ${archive} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  file(GLOB pc_files ${root}/${CPACK_TVX_LIBDIR}/pkgconfig/*.pc)
  foreach(pc IN LISTS pc_files)
    file(READ ${pc} text)
    string(REGEX REPLACE "(^|\n)prefix=[^\n]*" "\\1prefix=${CPACK_PACKAGING_INSTALL_PREFIX}"
      text "${text}")
    file(WRITE ${pc} "${text}")
  endforeach()
  file(GLOB_RECURSE pages ${root}/share/man/*.[1-9])
  foreach(page IN LISTS pages)
    tvx_gzip(${page})
  endforeach()
endforeach()
