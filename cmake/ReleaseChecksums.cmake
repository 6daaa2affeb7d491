# Run by CPack after packing: one checksum list for all archives of the
# release, in the form sha256sum -c reads. The archives still lie in CPack's
# work folder here; they are copied to the package folder right after.
set(list_text "")
foreach(package ${CPACK_PACKAGE_FILES})
  file(SHA256 ${package} hash)
  get_filename_component(name ${package} NAME)
  string(APPEND list_text "${hash}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-SHA256SUMS.txt "${list_text}")
