# The release artefact: `cpack` (see README) makes three ZIP archives:
#   ...-companion.zip  the companion, its two DLLs and UISkin, to be unpacked
#                      into the client's folder;
#   ...-tools.zip      the console tool and the log decoder, for support;
#   ...-debug.zip      the debug symbols of all five binaries, kept apart;
# and ...-SHA256SUMS.txt, a checksum list of the three (sha256sum -c).
# Every binary is built with symbols, which are copied beside it after each
# link (NAME.debug); the installed binaries are stripped and get a link to
# that file, so that a debugger finds the symbols again.

set(RELEASE_BINARIES DazuvuVevUpgrade NubraSdk VEXUI32 DazuvuVevUpgradeCtl DazuvuVevLogDecode)
set(release_symbol_files "")
foreach(target ${RELEASE_BINARIES})
  binary_file_name(${target} file_name)
  set(symbols ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${file_name}.debug)
  add_custom_command(OUTPUT ${symbols}
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${symbols}
    DEPENDS ${target}
    VERBATIM)
  list(APPEND release_symbol_files ${symbols})
  install(FILES ${symbols} DESTINATION . COMPONENT debug)
endforeach()
add_custom_target(release_symbols ALL DEPENDS ${release_symbol_files})

# Runs after the binaries of a component are installed (and stripped).
function(link_installed_symbols component)
  foreach(target ${ARGN})
    install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\"
        \"--add-gnu-debuglink=$<TARGET_FILE:${target}>.debug\"
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/$<TARGET_FILE_NAME:${target}>\"
        COMMAND_ERROR_IS_FATAL ANY)"
      COMPONENT ${component})
  endforeach()
endfunction()

# Import libraries go to a component that is never packed: the client links
# nothing against our DLLs.
install(TARGETS DazuvuVevUpgrade NubraSdk VEXUI32
  RUNTIME DESTINATION . COMPONENT companion
  ARCHIVE DESTINATION lib COMPONENT import)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/UISkin/ DESTINATION UISkin COMPONENT companion
  PATTERN README.md EXCLUDE
  PATTERN tools EXCLUDE
  PATTERN ".*" EXCLUDE)
link_installed_symbols(companion DazuvuVevUpgrade NubraSdk VEXUI32)
install(TARGETS DazuvuVevUpgradeCtl DazuvuVevLogDecode
  RUNTIME DESTINATION . COMPONENT tools)
link_installed_symbols(tools DazuvuVevUpgradeCtl DazuvuVevLogDecode)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME DazuvuVevUpgrade)
set(CPACK_PACKAGE_VENDOR Talvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL companion tools debug)
# Files at the archive's root: it is unpacked straight into the client's folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/ReleaseChecksums.cmake)
include(CPack)
