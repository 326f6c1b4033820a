# Installation under /usr and the Debian package (CPack's DEB generator): the two programs, the
# installed database, the desktop entry, the icons drawn by the artwork generator, the AppStream
# metadata and the manual pages. tools/package builds it.
include(GNUInstallDirs)

install(TARGETS ravlin ravlin-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/Ravlin.db DESTINATION ${CMAKE_INSTALL_DATADIR}/tovarek)
install(FILES dist/org.tovarek.Tovarek.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES dist/org.tovarek.Tovarek.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The program's own icon (the shield of icon 128) at every size the generator draws.
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${CMAKE_BINARY_DIR}/res/art/128-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tovarek.png)
endforeach()

# Manual pages and the changelog compressed as Debian wants them: gzip -9, no name or time stamp.
set(dist_gz)
foreach(doc man/ravlin.1 man/ravlin-cli.1 changelog)
  get_filename_component(name ${doc} NAME)
  set(out ${CMAKE_BINARY_DIR}/dist/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/dist/${doc} > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/dist/${doc}
    COMMENT "Compressing ${name}")
  list(APPEND dist_gz ${out})
endforeach()
add_custom_target(dist_docs ALL DEPENDS ${dist_gz})
install(FILES ${CMAKE_BINARY_DIR}/dist/ravlin.1.gz ${CMAKE_BINARY_DIR}/dist/ravlin-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES dist/copyright ${CMAKE_BINARY_DIR}/dist/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovarek)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovarek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop anti-malware tool")
# CPack puts the summary on the Description line and indents each line below; an empty line
# becomes the paragraph mark " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tovarek finds known dangerous files by their MD5 fingerprint or their name,
ends the processes that run them together with their launch chains and
moves them into a quarantine on request. In protection mode it checks every
running process every three seconds. The list of known files is refreshed
from a signed daily list.

This package holds the desktop program (ravlin) and its command-line
companion (ravlin-cli). Each user's database, logs and quarantine live in
that user's XDG folders.")
# Placeholders until the project names its maintainer and home page.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tovarek developers <tovarek@example.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tovarek.org/")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese texts need a CJK font; a native Wayland session needs Qt's Wayland plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
