# Run by CPack on the staged files before it archives them. The install step creates directories through
# mkdir, which the umask trims (0700 under umask 077); Debian wants 0755 directories whoever builds.
file(GLOB_RECURSE staged_dirs LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
list(APPEND staged_dirs "${CPACK_TEMPORARY_DIRECTORY}")
foreach(path IN LISTS staged_dirs)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    file(CHMOD "${path}" DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
