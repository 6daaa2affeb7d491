# The release artefact: `cpack` (see README) makes four ZIP archives:
#   ...-companion.zip  the companion, its two DLLs and UISkin, to be unpacked
#                      into the client's folder, with the third-party notices;
#   ...-tools.zip      the console tool and the log decoder, for support, with
#                      a short note and the third-party notices;
#   ...-debug.zip      the debug symbols of all five binaries, kept apart;
#   ...-sdk.zip        the public client header, the protocol and the sample
#                      client, for the client's developers;
# and ...-SHA256SUMS.txt, a checksum list of them all (sha256sum -c).
# Every binary is built with symbols, which are copied beside it after each
# link (NAME.debug); the installed binaries are stripped, get a link to that
# file, so that a debugger finds the symbols again, and are then signed when
# a certificate is given (cmake/ReleaseSigning.cmake).

include(${CMAKE_CURRENT_LIST_DIR}/ReleaseSigning.cmake)

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
release_sign_installed(companion DazuvuVevUpgrade NubraSdk VEXUI32)
install(TARGETS DazuvuVevUpgradeCtl DazuvuVevLogDecode
  RUNTIME DESTINATION . COMPONENT tools)
# Support's note, named apart: the archive may be unpacked into the client's
# folder. Where the log lies and what the result words mean.
configure_file(${CMAKE_SOURCE_DIR}/cmake/tools/README.txt.in ${CMAKE_BINARY_DIR}/tools/DazuvuVevUpgrade-tools-README.txt
  @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/tools/DazuvuVevUpgrade-tools-README.txt DESTINATION . COMPONENT tools)
link_installed_symbols(tools DazuvuVevUpgradeCtl DazuvuVevLogDecode)
release_sign_installed(tools DazuvuVevUpgradeCtl DazuvuVevLogDecode)

# The runtimes linked into every binary and their licence texts, from the
# toolchain's packages at build time. The file's name says whose notices
# they are: the companion's archive is unpacked into the client's folder,
# which may have notices of its own.
set(RELEASE_NOTICES_FILE ${CMAKE_BINARY_DIR}/DazuvuVevUpgrade-THIRD-PARTY-NOTICES.txt)
# The script names the libraries and licence files it read in a depfile, so
# the notices are written again when a package update changes them.
add_custom_command(OUTPUT ${RELEASE_NOTICES_FILE}
  COMMAND ${CMAKE_COMMAND} -DCOMPILER=${CMAKE_CXX_COMPILER} -DHEAD=${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES
    -DOUTPUT=${RELEASE_NOTICES_FILE} -DDEPFILE=${RELEASE_NOTICES_FILE}.d
    -P ${CMAKE_SOURCE_DIR}/cmake/ThirdPartyNotices.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES ${CMAKE_SOURCE_DIR}/cmake/ThirdPartyNotices.cmake
  DEPFILE ${RELEASE_NOTICES_FILE}.d
  COMMENT "Writing the third-party notices"
  VERBATIM)
add_custom_target(third_party_notices ALL DEPENDS ${RELEASE_NOTICES_FILE})
install(FILES ${RELEASE_NOTICES_FILE} DESTINATION . COMPONENT companion)
install(FILES ${RELEASE_NOTICES_FILE} DESTINATION . COMPONENT tools)

# What a client's developer needs to drive the companion: the header, the
# protocol it implements and a sample client that builds from them alone.
configure_file(${CMAKE_SOURCE_DIR}/cmake/sdk/README.txt.in ${CMAKE_BINARY_DIR}/sdk/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/sdk/README.txt DESTINATION . COMPONENT sdk)
install(FILES ${CMAKE_SOURCE_DIR}/include/DazuvuVevUpgradeClient.h DESTINATION include COMPONENT sdk)
# In the SDK the sample lies in sample/, not where the repository keeps it.
file(READ ${CMAKE_SOURCE_DIR}/docs/client-protocol.md sdk_protocol_text)
string(REPLACE "../tests/client/SampleClient.cpp" "../sample/SampleClient.cpp" sdk_protocol_text "${sdk_protocol_text}")
file(WRITE ${CMAKE_BINARY_DIR}/sdk/client-protocol.md "${sdk_protocol_text}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/client-protocol.md)
install(FILES ${CMAKE_BINARY_DIR}/sdk/client-protocol.md DESTINATION docs COMPONENT sdk)
install(FILES ${CMAKE_SOURCE_DIR}/tests/client/SampleClient.cpp DESTINATION sample COMPONENT sdk)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME DazuvuVevUpgrade)
set(CPACK_PACKAGE_VENDOR Talvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL companion tools debug sdk)
# Files at the archive's root: it is unpacked straight into the client's folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/ReleaseChecksums.cmake)
# For the notice at the end of packing: signed or not.
set(CPACK_RELEASE_SIGN_OPTIONS_FILE ${RELEASE_SIGN_OPTIONS_FILE})
include(CPack)
