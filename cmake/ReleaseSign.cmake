# Signs installed binaries, at install time (run by CPack for each archive),
# after they were stripped and linked to their symbol files: what is shipped
# are exactly the signed bytes, and the link to the symbols stays valid (the
# signature goes at the file's end and covers the link section).
#
# Expects release_sign_files (the installed binaries) and the options file
# that cmake/ReleaseSigning.cmake writes at configure time.

include("${CMAKE_CURRENT_LIST_DIR}/ReleaseSignSettings.cmake")
release_sign_settings()
if(NOT release_sign_enabled)
  return()
endif()

set(tool "${release_sign_tool}")
if(NOT tool)
  find_program(tool osslsigncode)
endif()
if(NOT tool)
  message(FATAL_ERROR "release signing: osslsigncode is not installed (bash scripts/setup.sh installs it)")
endif()

set(sign_args -certs "${release_sign_cert}" -key "${release_sign_key}" -h sha256 -n "Talvex")
foreach(url IN LISTS release_sign_timestamp_urls)
  list(APPEND sign_args -ts "${url}")
endforeach()

# A password given in the environment goes to the tool in a file only this
# user can read, never on its command line, and the file is gone afterwards.
set(pass_folder "")
if(NOT release_sign_pass_file STREQUAL "")
  list(APPEND sign_args -readpass "${release_sign_pass_file}")
elseif(DEFINED ENV{RELEASE_SIGN_PASS})
  string(RANDOM LENGTH 16 token)
  set(pass_folder "${release_sign_work_dir}/release-sign-${token}")
  file(MAKE_DIRECTORY "${pass_folder}")
  file(CHMOD "${pass_folder}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  file(WRITE "${pass_folder}/pass" "$ENV{RELEASE_SIGN_PASS}")
  list(APPEND sign_args -readpass "${pass_folder}/pass")
endif()

set(failure "")
foreach(file IN LISTS release_sign_files)
  file(REMOVE "${file}.signed")
  execute_process(COMMAND "${tool}" sign ${sign_args} -in "${file}" -out "${file}.signed"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT EXISTS "${file}.signed")
    file(REMOVE "${file}.signed")
    set(failure "signing ${file} failed (${rc}): ${out}")
    break()
  endif()
  file(RENAME "${file}.signed" "${file}")
  get_filename_component(name "${file}" NAME)
  message(STATUS "release signing: signed ${name}")
endforeach()
if(pass_folder)
  file(REMOVE_RECURSE "${pass_folder}")
endif()
if(failure)
  message(FATAL_ERROR "release signing: ${failure}")
endif()
