# Run by CPack after packing: one checksum list for all archives of the
# release, in the form sha256sum -c reads, made from the finished (signed)
# archives. The archives still lie in CPack's work folder here; they are
# copied to the package folder right after. Ends with the release's
# signing state, so that an unsigned release never passes unnoticed.
set(list_text "")
foreach(package ${CPACK_PACKAGE_FILES})
  file(SHA256 ${package} hash)
  get_filename_component(name ${package} NAME)
  string(APPEND list_text "${hash}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-SHA256SUMS.txt "${list_text}")

include(${CPACK_RELEASE_SIGN_OPTIONS_FILE})
include(${CMAKE_CURRENT_LIST_DIR}/ReleaseSignSettings.cmake)
release_sign_settings()
if(release_sign_enabled)
  message(STATUS "Release: the binaries are signed with ${release_sign_cert}")
else()
  message(WARNING "Release: ${release_unsigned_notice}")
endif()
