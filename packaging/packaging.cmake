# Installs what a desktop needs besides the programs, and packs it all as a
# Debian package: cpack -G DEB.
include(GNUInstallDirs)

set(tavrinAppId org.example.tavrin)
set(packagingDir ${PROJECT_SOURCE_DIR}/packaging)
set(generatedDir ${PROJECT_BINARY_DIR}/packaging)

configure_file(${packagingDir}/tavrin-cli.1.in ${generatedDir}/tavrin-cli.1 @ONLY)
install(FILES ${generatedDir}/tavrin-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TAVRIN_BUILD_UI)
  configure_file(${packagingDir}/${tavrinAppId}.metainfo.xml.in ${generatedDir}/${tavrinAppId}.metainfo.xml @ONLY)
  install(FILES ${packagingDir}/${tavrinAppId}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${generatedDir}/${tavrinAppId}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32)
    install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/tavrin-${size}x${size}-16.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tavrin.png)
  endforeach()

  if(TAVRIN_BUILD_TESTS)
    find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
    find_program(APPSTREAMCLI appstreamcli)
    if(DESKTOP_FILE_VALIDATE)
      add_test(NAME desktop_file_validate
               COMMAND ${DESKTOP_FILE_VALIDATE} ${packagingDir}/${tavrinAppId}.desktop)
    endif()
    if(APPSTREAMCLI)
      add_test(NAME metainfo_validate
               COMMAND ${APPSTREAMCLI} validate --no-net ${generatedDir}/${tavrinAppId}.metainfo.xml)
    endif()
  endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${TAVRIN_VERSION_TEXT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn a list of e-mail recipients into an address file")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrin reads a delimited list of e-mail recipients, such as a list copied
out of a mail's recipient line, and writes an address file with one
recipient per line. On request it unpacks a name in double quotes followed
by an address in angle brackets into a tidied display name and the address.
It comes as a small window (tavrin) and as a command-line program for batch
use (tavrin-cli).")
set(CPACK_PACKAGE_CONTACT "Tavrin maintainers <maintainers@tavrin.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries come from dpkg-shlibdeps; Qt's platform plugins, which the
# window loads at run time, only from this list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TAVRIN_BUILD_UI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
include(CPack)
