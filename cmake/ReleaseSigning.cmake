# Authenticode signatures (SHA-256, made with osslsigncode) on the release's
# binaries, when a certificate and its key are given: as the CMake options
# below, or else as environment variables of the same names when packing.
# Without them the release is packed unsigned, and configure and cpack say
# so. The password of a protected key is never kept in the cache: it comes
# from a file (RELEASE_SIGN_PASS_FILE) or from the environment variable
# RELEASE_SIGN_PASS when packing.

set(RELEASE_SIGN_CERT "" CACHE FILEPATH
  "PEM file with the code-signing certificate (and its chain) for the release's binaries; empty: unsigned")
set(RELEASE_SIGN_KEY "" CACHE FILEPATH "PEM file with the private key of RELEASE_SIGN_CERT")
set(RELEASE_SIGN_PASS_FILE "" CACHE FILEPATH "File holding the password of RELEASE_SIGN_KEY, if it has one")
set(RELEASE_SIGN_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 time-stamp server(s) for the signatures (space-separated: tried in turn); empty: no time stamp")
find_program(OSSLSIGNCODE_COMMAND osslsigncode)

# What the install step and CPack's last script read: the options as given
# at configure time (the environment is read when packing).
set(RELEASE_SIGN_OPTIONS_FILE ${CMAKE_BINARY_DIR}/ReleaseSigningOptions.cmake)
file(CONFIGURE OUTPUT ${RELEASE_SIGN_OPTIONS_FILE} CONTENT
"# Written by cmake/ReleaseSigning.cmake at configure time.
set(release_sign_option_CERT [==[${RELEASE_SIGN_CERT}]==])
set(release_sign_option_KEY [==[${RELEASE_SIGN_KEY}]==])
set(release_sign_option_PASS_FILE [==[${RELEASE_SIGN_PASS_FILE}]==])
set(release_sign_option_TIMESTAMP_URL [==[${RELEASE_SIGN_TIMESTAMP_URL}]==])
set(release_sign_tool [==[${OSSLSIGNCODE_COMMAND}]==])
set(release_sign_work_dir [==[${CMAKE_BINARY_DIR}]==])
")

include(${RELEASE_SIGN_OPTIONS_FILE})
include(${CMAKE_CURRENT_LIST_DIR}/ReleaseSignSettings.cmake)
release_sign_settings()
if(release_sign_enabled)
  if(NOT OSSLSIGNCODE_COMMAND)
    message(FATAL_ERROR "release signing: osslsigncode is not installed (bash scripts/setup.sh installs it)")
  endif()
  if(release_sign_timestamp_urls)
    set(stamps "time stamps from ${release_sign_timestamp_urls}")
  else()
    set(stamps "no time stamp")
  endif()
  message(STATUS "Release: the binaries will be signed with ${release_sign_cert} (${stamps})")
else()
  message(STATUS "Release: ${release_unsigned_notice}")
endif()

# release_sign_installed(COMPONENT TARGETS...): signs the targets' installed
# files; call it after everything else that changes them was installed.
function(release_sign_installed component)
  set(files "")
  foreach(target ${ARGN})
    list(APPEND files "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/$<TARGET_FILE_NAME:${target}>")
  endforeach()
  install(CODE "set(release_sign_files \"${files}\")
    include(\"${RELEASE_SIGN_OPTIONS_FILE}\")
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/ReleaseSign.cmake\")"
    COMPONENT ${component})
endfunction()
