# What `cmake --install` puts beside the three programs, and the Debian package
# made of it by CPack (scripts/package).
#
# CPack rather than a debian/ folder: the package holds exactly what the
# install rules install, so the two cannot drift apart, and it is made from a
# build folder of its own without building the tests.

set(SONABOX_RESOURCES ${PROJECT_SOURCE_DIR}/resources)

install(FILES ${SONABOX_RESOURCES}/sonabox.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${SONABOX_RESOURCES}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${SONABOX_RESOURCES}/com.tarnwell.sonabox.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The user service: systemd reads share/systemd/user of /usr and of ~/.local.
# It names the server where this install puts it (the prefix is known only
# when installing: `cmake --install build --prefix ~/.local`).
install(CODE "
  set(SONABOX_SERVER \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/sonabox-server\")
  configure_file(\"${SONABOX_RESOURCES}/sonabox-server.service\"
                 \"${CMAKE_CURRENT_BINARY_DIR}/sonabox-server.service\" @ONLY)")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/sonabox-server.service
        DESTINATION ${CMAKE_INSTALL_DATADIR}/systemd/user)

# Manual pages, compressed without a time stamp so that the bytes depend on
# the text alone.
set(manual_pages)
foreach(page sonabox sonabox-cli sonabox-server)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
                     COMMAND gzip -9n -c ${SONABOX_RESOURCES}/man/${page}.1 > ${compressed}
                     DEPENDS ${SONABOX_RESOURCES}/man/${page}.1 VERBATIM)
  list(APPEND manual_pages ${compressed})
endforeach()
add_custom_target(manual-pages ALL DEPENDS ${manual_pages})
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's own changelog (a native package: changelog.gz) and copyright.
set(doc ${CMAKE_CURRENT_BINARY_DIR}/doc)
add_custom_command(OUTPUT ${doc}/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${doc}
                   COMMAND gzip -9n -c ${SONABOX_RESOURCES}/debian/changelog > ${doc}/changelog.gz
                   DEPENDS ${SONABOX_RESOURCES}/debian/changelog VERBATIM)
add_custom_target(package-changelog ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${SONABOX_RESOURCES}/debian/copyright ${doc}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonabox)

# A stripped install (the package's) drops the compilers' notes too, as
# Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program sonabox sonabox-cli sonabox-server)
      execute_process(COMMAND objcopy --remove-section=.comment
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

# ------------------------------------------------------------------ package

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonabox)
set(CPACK_PACKAGE_VENDOR Tarnwell)
set(CPACK_PACKAGE_CONTACT "Sonabox maintainers <maintainers@users.noreply.c-seed-85d4d40b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "jukebox for music videos")
set(CPACK_PACKAGE_DESCRIPTION
    "Sonabox searches a video feed, keeps the videos chosen in named playlists
and plays a playlist on its own, one video after another. Videos can be
shown in a larger window, shared through a share code, and playlists
exchanged with other players as M3U and XSPF files.
.
The package holds the program, sonabox-cli for playlists on the command
line, and sonabox-server, the companion service that serves the user's
video folder (run it with: systemctl --user enable --now sonabox-server).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # sonabox_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://sonabox.tarnwell.example/)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Dependencies: dpkg-shlibdeps reads the libraries the programs link. The
# program loads three more when it first needs them (the video player, the
# web client and the signature check), which dpkg-shlibdeps cannot see: their
# packages are looked up by the file they install.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(loaded_packages)
foreach(library libmpv.so.2 libcurl.so.4 libcrypto.so.3)
  execute_process(COMMAND dpkg-query -S "*/${library}" OUTPUT_VARIABLE owner
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "no installed package holds ${library}")
  endif()
  string(REGEX MATCH "^[^:]+" owner "${owner}")
  list(APPEND loaded_packages ${owner})
endforeach()
list(JOIN loaded_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

include(CPack)
