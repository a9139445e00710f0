# Installation on Linux (cmake --install, and the .deb that CPack makes from
# the same rules):
#   bin/zandrel                                   the program
#   lib/zandrel/webext/zandrel-webext.so          its extension in WebKit's web process
#   share/doc/zandrel/questions.tsv               the question bank built into the program,
#                                                 as the model of a bank of one's own
#   share/applications/<id>.desktop               the menu entry
#   share/metainfo/<id>.metainfo.xml              the software centres' description
#   share/icons/hicolor/*/apps/<id>.{svg,png}     the icon
#   share/man/man1/zandrel.1.gz                   the manual page
#   share/doc/zandrel/{copyright,changelog.Debian.gz}  licence and changes
#   share/lintian/overrides/zandrel               what lintian need not say of it
# zandrel-site is left out: the program serves the exam pages itself, and the
# separate site is a development and test tool.

include(GNUInstallDirs)

set(ZANDREL_APP_ID org.zandrel.Zandrel)

install(TARGETS zandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS zandrel-webext LIBRARY DESTINATION ${ZANDREL_WEBEXT_INSTALL_DIR})
# The program carries its bank; share/zandrel/questions.tsv, where a bank of
# one's own may go, is left to the administrator.
install(FILES site/questions.tsv DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES data/linux/${ZANDREL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/linux/${ZANDREL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/icons/zandrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${ZANDREL_APP_ID}.svg)
foreach(size 16 24 32 48 64 128 256)
  install(FILES data/icons/zandrel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${ZANDREL_APP_ID}.png)
endforeach()

# The manual page and the changelog, compressed as Debian policy asks
# (gzip -9n: no name or time stamp, so the same sources give the same bytes).
# The package's revision: the changelog is the package's own (Debian's name
# for it, changelog.Debian.gz), not a native package's.
set(ZANDREL_DEB_RELEASE 1)
set(ZANDREL_DEB_VERSION ${PROJECT_VERSION}-${ZANDREL_DEB_RELEASE})
set(ZANDREL_VERSION ${PROJECT_VERSION})
set(Z_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
configure_file(data/linux/zandrel.1 ${Z_DOC_DIR}/zandrel.1 @ONLY)
configure_file(data/linux/changelog.in ${Z_DOC_DIR}/changelog.Debian @ONLY)
find_program(Z_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${Z_DOC_DIR}/zandrel.1.gz ${Z_DOC_DIR}/changelog.Debian.gz
  COMMAND ${Z_GZIP} -9n -c zandrel.1 > zandrel.1.gz
  COMMAND ${Z_GZIP} -9n -c changelog.Debian > changelog.Debian.gz
  DEPENDS ${Z_DOC_DIR}/zandrel.1 ${Z_DOC_DIR}/changelog.Debian
  WORKING_DIRECTORY ${Z_DOC_DIR}
  VERBATIM)
add_custom_target(zandrel_docs ALL DEPENDS ${Z_DOC_DIR}/zandrel.1.gz ${Z_DOC_DIR}/changelog.Debian.gz)
install(FILES ${Z_DOC_DIR}/zandrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/linux/copyright ${Z_DOC_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zandrel)
install(FILES data/linux/zandrel.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zandrel)

# cpack -G DEB: a binary package for Debian and its derivatives.
set(CPACK_PACKAGE_NAME zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel developers")
set(CPACK_PACKAGE_CONTACT "Zandrel maintainers <maintainers@zandrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reads the driving-theory mock exam's questions aloud")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zandrel shows the mock examinations of the Chinese driving-theory tests,
Subject 1 (科目一) and Subject 4 (科目四), in one window and reads the current
question aloud on F1, also while another program has the focus.")
if(Z_EMBEDDED_SITE)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION
         " The exam\npages are served by the program itself on the loopback interface.")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZANDREL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the speech stack is started over
# D-Bus/its socket at run time, so it is named here. Without the espeak-ng
# module speech-dispatcher has no voice and every reading ends in 转换失败！.
# Without a Chinese font the menus and the page are empty boxes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "speech-dispatcher, speech-dispatcher-espeak-ng, espeak-ng, fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
