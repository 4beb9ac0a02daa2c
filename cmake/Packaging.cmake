# Installation of the man page, the bash completion and the configuration directory, and the
# Debian package made from the same install rules with `cpack -G DEB`.

# The directory of the device configuration file, its labelled copies and the model catalogue.
# The tool has it built in (src/common/paths.h), so it is not an install prefix and never
# moves with CMAKE_INSTALL_PREFIX.
set(LUMORA_CONFIG_DIR /etc/opt/kelvane/scanner/lumora)

# The man page and the changelog, gzipped as Debian wants them when gzip is there, else as
# they stand. lumora_install_gzipped(SOURCE DESTINATION NAME [COMPONENT]) installs SOURCE as
# NAME(.gz), in the tool's package unless another COMPONENT is named.
find_program(LUMORA_GZIP gzip)
function(lumora_install_gzipped source destination name)
  set(component ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
  if(ARGC GREATER 3)
    set(component ${ARGV3})
  endif()
  if(NOT LUMORA_GZIP)
    install(FILES ${source} DESTINATION ${destination} RENAME ${name} COMPONENT ${component})
    return()
  endif()
  set(gzipped ${CMAKE_BINARY_DIR}/gzipped/${component}/${name}.gz)
  add_custom_command(
    OUTPUT ${gzipped}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gzipped/${component}
    COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${LUMORA_GZIP} ${source} ${gzipped}
    DEPENDS ${source}
    COMMENT "Compressing ${name} of ${component}"
    VERBATIM)
  add_custom_target(lumoraconf_gzip_${component}_${name} ALL DEPENDS ${gzipped})
  install(FILES ${gzipped} DESTINATION ${destination} COMPONENT ${component})
endfunction()

lumora_install_gzipped(${CMAKE_SOURCE_DIR}/doc/lumoraconf.8 ${CMAKE_INSTALL_MANDIR}/man8 lumoraconf.8)
# A native package: the changelog is named changelog, and the licence goes in Debian's
# machine-readable copyright file.
lumora_install_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_INSTALL_DOCDIR} changelog)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# lintian reads its overrides only under /usr, so other prefixes (/usr/local) do not get them.
install(CODE "set(LUMORA_LINTIAN_OVERRIDES \"${CMAKE_SOURCE_DIR}/packaging/lintian-overrides\")")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    file(INSTALL "${LUMORA_LINTIAN_OVERRIDES}" DESTINATION "${CMAKE_INSTALL_PREFIX}/share/lintian/overrides"
         RENAME lumoraconf)
  endif()
]])

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

# The Ansible collection, where Ansible looks for collections by default, with what
# `ansible-galaxy collection build` puts in its tarball; its tests stay in the tree.
set(LUMORA_COLLECTION_DIR
    ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/lumoraconf/scanners)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/contrib/ansible/ DESTINATION ${LUMORA_COLLECTION_DIR}
        COMPONENT ansible
        PATTERN tests EXCLUDE
        PATTERN .gitignore EXCLUDE
        PATTERN __pycache__ EXCLUDE
        PATTERN *.pyc EXCLUDE
        PATTERN *.tar.gz EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumoraconf-ansible COMPONENT ansible)
lumora_install_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog
                       ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumoraconf-ansible changelog ansible)
install(CODE "set(LUMORA_ANSIBLE_OVERRIDES \"${CMAKE_SOURCE_DIR}/packaging/lintian-overrides-ansible\")"
        COMPONENT ansible)
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    file(INSTALL "${LUMORA_ANSIBLE_OVERRIDES}" DESTINATION "${CMAKE_INSTALL_PREFIX}/share/lintian/overrides"
         RENAME lumoraconf-ansible)
  endif()
]] COMPONENT ansible)

# --- Debian packages ---------------------------------------------------------------------------
# One cpack run makes both: lumoraconf (the tool, the default component) and
# lumoraconf-ansible (the collection, architecture all).
set(LUMORA_PACKAGE_MAINTAINER "lumoraconf maintainers <maintainers@lumoraconf.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lumoraconf ansible)
set(CPACK_PACKAGE_NAME lumoraconf)
set(CPACK_PACKAGE_VENDOR "lumoraconf")
set(CPACK_PACKAGE_CONTACT "${LUMORA_PACKAGE_MAINTAINER}")
# Each description starts with its package's summary line: CPack would put one summary,
# CPACK_PACKAGE_DESCRIPTION_SUMMARY, in front of both.
set(CPACK_DEBIAN_LUMORACONF_DESCRIPTION
    "register the network scanners of the lumora SANE backend\n\
lumoraconf writes the DEVICE= lines of the lumora backend's device\n\
configuration file, looks models up in the backend's model catalogue,\n\
removes devices, saves and loads labelled copies of the file, switches\n\
the backend's log line and prints a diagnosis report.")
set(CPACK_DEBIAN_ANSIBLE_DESCRIPTION
    "Ansible collection for the scanners of the lumora SANE backend\n\
The collection lumoraconf.scanners registers and removes network scanners\n\
and switches the backend's log line on many machines, through lumoraconf\n\
and its read-only companion lumoraconf-query, with check and diff mode.")
set(CPACK_DEBIAN_LUMORACONF_PACKAGE_NAME lumoraconf)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_NAME lumoraconf-ansible)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_ARCHITECTURE all)
# The collection runs both programs on the managed machine; ansible-core loads it.
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_DEPENDS "lumoraconf (= ${PROJECT_VERSION}), ansible-core")
# Removes the bytecode Python writes beside the collection's modules, which dpkg does not know.
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/ansible/prerm")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The tool rewrites its file through /bin/sh pipelines of cat, uniq and sed and runs cat and ls
# for the diagnosis; all of them are in essential packages, which a package never names. The
# ping serves -p and the diagnosis: iputils-ping is small and recommended. The SANE tools serve
# the diagnosis alone and bring in the SANE library with its daemons (avahi, udev, dbus,
# ipp-usb), so they are only suggested.
set(CPACK_DEBIAN_LUMORACONF_PACKAGE_RECOMMENDS "iputils-ping")
set(CPACK_DEBIAN_LUMORACONF_PACKAGE_SUGGESTS "sane-utils")
# The runtime libraries come from dpkg-shlibdeps (package dpkg-dev), which CPack runs only with
# the `file` utility at hand; without them the package still depends on the C library, and on
# the C++ one when it is not linked in.
find_program(LUMORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(LUMORA_FILE file)
if(LUMORA_DPKG_SHLIBDEPS AND LUMORA_FILE)
  set(CPACK_DEBIAN_LUMORACONF_PACKAGE_SHLIBDEPS ON)
else()
  # lumoraconf-query's discover loads ldns, libxml2 and libcurl; Debian 13 renamed the packages
  # of ldns and libcurl for the 64-bit time_t move.
  set(CPACK_DEBIAN_LUMORACONF_PACKAGE_DEPENDS
      "libc6, libldns3 | libldns3t64, libxml2, libcurl4 | libcurl4t64")
  if(NOT LUMORA_STATIC_LIBSTDCXX OR LUMORA_SANITIZE)
    string(APPEND CPACK_DEBIAN_LUMORACONF_PACKAGE_DEPENDS ", libstdc++6")
  endif()
  message(STATUS "dpkg-shlibdeps or file not found: the package depends on unversioned "
                 "${CPACK_DEBIAN_LUMORACONF_PACKAGE_DEPENDS}")
endif()

# --- Reproducible packages --------------------------------------------------------------------
# Every package and component cpack makes from this tree rebuilds to the same bytes: the
# compiler options and directory modes of CMakeLists.txt, gzip without name and time above, and
# the directories of the staging tree all 0755 (cmake/CPackFixedModes.cmake), and every time
# stamp in the archives (file times, and the members of the .deb) set to
# SOURCE_DATE_EPOCH, which CPack's DEB generator honours. When the caller sets none, it is the
# date of the changelog's latest entry, read here and handed to cpack through its project
# configuration file, which cpack reads for every generator and package.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog LUMORA_CHANGELOG_TRAILERS REGEX "^ -- ")
list(GET LUMORA_CHANGELOG_TRAILERS 0 LUMORA_CHANGELOG_TRAILER)
string(REGEX REPLACE "^ -- .*>  " "" LUMORA_CHANGELOG_DATE "${LUMORA_CHANGELOG_TRAILER}")
execute_process(COMMAND date -u -d "${LUMORA_CHANGELOG_DATE}" +%s
                OUTPUT_VARIABLE LUMORA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE LUMORA_DATE_STATUS)
if(NOT LUMORA_DATE_STATUS EQUAL 0 OR NOT LUMORA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "cannot read the date of packaging/changelog's latest entry: "
                      "'${LUMORA_CHANGELOG_DATE}'")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
               ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/CPackFixedModes.cmake)

include(CPack)
