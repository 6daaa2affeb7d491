# The signing settings in force, for configure time (cmake/ReleaseSigning.cmake),
# for the installed binaries (cmake/ReleaseSign.cmake) and for the notice at
# the end of packing (cmake/ReleaseChecksums.cmake), so that all three agree.
#
# release_sign_settings(): each of CERT, KEY, PASS_FILE and TIMESTAMP_URL is
# the CMake option RELEASE_SIGN_<X> when it was given (read here from
# release_sign_option_<X>, written at configure time), else the environment
# variable RELEASE_SIGN_<X> of the process that runs now. Sets
# release_sign_cert, release_sign_key, release_sign_pass_file,
# release_sign_timestamp_urls (a list) and release_sign_enabled. A
# certificate without a key, or a key without a certificate, is an error: a
# release meant to be signed must not come out unsigned.
macro(release_sign_settings)
  foreach(setting CERT KEY PASS_FILE TIMESTAMP_URL)
    string(TOLOWER ${setting} lower)
    set(release_sign_${lower} "${release_sign_option_${setting}}")
    if("${release_sign_${lower}}" STREQUAL "")
      set(release_sign_${lower} "$ENV{RELEASE_SIGN_${setting}}")
    endif()
  endforeach()
  set(release_sign_timestamp_urls "${release_sign_timestamp_url}")
  string(REPLACE " " ";" release_sign_timestamp_urls "${release_sign_timestamp_urls}")
  if(release_sign_cert STREQUAL "" AND release_sign_key STREQUAL "")
    set(release_sign_enabled FALSE)
  elseif(release_sign_cert STREQUAL "" OR release_sign_key STREQUAL "")
    message(FATAL_ERROR "release signing: RELEASE_SIGN_CERT and RELEASE_SIGN_KEY go together "
      "(certificate: \"${release_sign_cert}\", key: \"${release_sign_key}\")")
  else()
    set(release_sign_enabled TRUE)
    foreach(file "${release_sign_cert}" "${release_sign_key}" "${release_sign_pass_file}")
      if(NOT file STREQUAL "" AND NOT EXISTS "${file}")
        message(FATAL_ERROR "release signing: ${file} does not exist")
      endif()
    endforeach()
  endif()
endmacro()

set(release_unsigned_notice
  "the release is UNSIGNED: its binaries carry no Authenticode signature. To sign them, give "
  "RELEASE_SIGN_CERT and RELEASE_SIGN_KEY (CMake options, or environment variables when packing)")
string(CONCAT release_unsigned_notice ${release_unsigned_notice})
