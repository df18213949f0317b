# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staging folder, after the install and before the
# archive: the layout Debian's policy asks for, which a plain `cmake --install` does without.
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(docs "${root}/${CPACK_BREVALO_DOC_DIR}")

# gzip -9n: best compression, and no name or time stamp, so the same page gives the same bytes.
function(gzip_in_place file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endfunction()

gzip_in_place("${root}/${CPACK_BREVALO_MAN_PAGE}")
file(COPY "${CPACK_BREVALO_COPYRIGHT}" DESTINATION "${docs}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY "${CPACK_BREVALO_CHANGELOG}" DESTINATION "${docs}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
gzip_in_place("${docs}/changelog")
