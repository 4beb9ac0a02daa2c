# Installation of the man page, the bash completion and the configuration directory, and the
# Debian package made from the same install rules with `cpack -G DEB`.

# The directory of the device configuration file, its labelled copies and the model catalogue.
# The tool has it built in (src/common/paths.h), so it is not an install prefix and never
# moves with CMAKE_INSTALL_PREFIX.
set(LUMORA_CONFIG_DIR /etc/opt/kelvane/scanner/lumora)

# Man page, gzipped as Debian wants it when gzip is there, else as it stands.
set(LUMORA_MANPAGE ${CMAKE_SOURCE_DIR}/doc/lumoraconf.8)
find_program(LUMORA_GZIP gzip)
if(LUMORA_GZIP)
  set(LUMORA_MANPAGE_GZ ${CMAKE_BINARY_DIR}/doc/lumoraconf.8.gz)
  add_custom_command(
    OUTPUT ${LUMORA_MANPAGE_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${LUMORA_GZIP} ${LUMORA_MANPAGE} ${LUMORA_MANPAGE_GZ}
    DEPENDS ${LUMORA_MANPAGE}
    COMMENT "Compressing the man page"
    VERBATIM)
  add_custom_target(lumoraconf_manpage ALL DEPENDS ${LUMORA_MANPAGE_GZ})
  install(FILES ${LUMORA_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
else()
  install(FILES ${LUMORA_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/completion/lumoraconf.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME lumoraconf)

# The first registration on a fresh machine needs the configuration directory. It is made
# (mode 0755, like every missing parent) under $DESTDIR, so packaging needs no root; a
# directory that exists already is left as it is.
install(CODE "set(LUMORA_CONFIG_DIR \"${LUMORA_CONFIG_DIR}\")")
install(CODE [[
  set(_lumora_dir "$ENV{DESTDIR}")
  string(REPLACE "/" ";" _lumora_parts "${LUMORA_CONFIG_DIR}")
  foreach(_lumora_part IN LISTS _lumora_parts)
    if(_lumora_part STREQUAL "")
      continue()
    endif()
    set(_lumora_dir "${_lumora_dir}/${_lumora_part}")
    if(IS_DIRECTORY "${_lumora_dir}")
      if(_lumora_dir STREQUAL "$ENV{DESTDIR}${LUMORA_CONFIG_DIR}")
        message(STATUS "Up-to-date: ${_lumora_dir}")
      endif()
      continue()
    endif()
    message(STATUS "Installing: ${_lumora_dir}")
    file(MAKE_DIRECTORY "${_lumora_dir}")
    file(CHMOD "${_lumora_dir}" DIRECTORY_PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
]])

# --- Debian package ---------------------------------------------------------------------------
set(LUMORA_PACKAGE_MAINTAINER "lumoraconf maintainers <maintainers@lumoraconf.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumoraconf)
set(CPACK_PACKAGE_VENDOR "lumoraconf")
set(CPACK_PACKAGE_CONTACT "${LUMORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "register the network scanners of the lumora SANE backend")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "lumoraconf writes the DEVICE= lines of the lumora backend's device\n\
configuration file, looks models up in the backend's model catalogue,\n\
removes devices, saves and loads labelled copies of the file, switches\n\
the backend's log line and prints a diagnosis report.")
set(CPACK_DEBIAN_PACKAGE_NAME lumoraconf)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The tool rewrites its file through /bin/sh pipelines of cat, uniq (coreutils) and sed, and
# runs cat and ls for the diagnosis. The SANE tools and ping only serve the diagnosis and -p.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "coreutils, sed")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sane-utils, iputils-ping")
# The C and C++ runtime libraries come from dpkg-shlibdeps (package dpkg-dev) when it is there.
find_program(LUMORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LUMORA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found: the package will not depend on the runtime libraries")
endif()

include(CPack)
