# Torvexin.dll under Wine inside the QEMU guest, on the guest kernel's drives: QEMU's IDE and SCSI
# CD-ROM drives and CDEmu's DVD+R writer (built from its source tarball into the guest cache and
# kept; skipped without the tarball). Included by the Windows build's tests: the
# host program and the ASPI layer are Windows programs, the harness runs on the build machine.
include(${CMAKE_CURRENT_LIST_DIR}/guest_cache.cmake)
set(TVX_WINE_GUEST_DIR ${CMAKE_CURRENT_BINARY_DIR}/wine_guest)

# A host program of the DLL: LoadLibrary and GetProcAddress only.
add_executable(wine_check ${CMAKE_CURRENT_LIST_DIR}/wine_check.c)
set_target_properties(wine_check PROPERTIES C_STANDARD 99 C_EXTENSIONS ON
                      RUNTIME_OUTPUT_DIRECTORY ${TVX_WINE_GUEST_DIR})
target_include_directories(wine_check PRIVATE ${PROJECT_SOURCE_DIR}/include)
add_dependencies(wine_check torvexin)

# The ASPI layer of the test (Wine's own no longer sends requests).
add_library(wine_aspi_layer SHARED ${CMAKE_CURRENT_LIST_DIR}/wine_aspi_layer.c)
set_target_properties(wine_aspi_layer PROPERTIES C_STANDARD 99 C_EXTENSIONS ON
                      OUTPUT_NAME WNASPI32 PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${TVX_WINE_GUEST_DIR})

add_test(NAME qemu_wine_guest
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_guest_test.sh $<TARGET_FILE:torvexin>
          $<TARGET_FILE:wine_check> $<TARGET_FILE:wine_aspi_layer> ${PROJECT_SOURCE_DIR}
          ${CMAKE_CURRENT_BINARY_DIR}/work-wine-guest ${TVX_GUEST_CACHE}/cdemu)
set_tests_properties(qemu_wine_guest PROPERTIES TIMEOUT 1800 RUN_SERIAL TRUE LABELS qemu
                     SKIP_RETURN_CODE 77 ENVIRONMENT TVX_GUEST_CACHE=${TVX_GUEST_CACHE})
