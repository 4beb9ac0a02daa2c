# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staging tree, every package and component in it,
# before anything is archived. The install rules give every file its mode, but the directories
# that installation makes implicitly get 0755 minus the umask of the cpack run; they all become
# 0755, so the archives do not depend on that umask.
if(NOT IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  message(FATAL_ERROR "CPackFixedModes: no staging tree at '${CPACK_TEMPORARY_INSTALL_DIRECTORY}'")
endif()
file(GLOB_RECURSE lumora_staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(lumora_entry IN LISTS lumora_staged)
  if(IS_DIRECTORY "${lumora_entry}" AND NOT IS_SYMLINK "${lumora_entry}")
    file(CHMOD "${lumora_entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
