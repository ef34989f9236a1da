# Installs what a desktop and a shell need besides the programs. The Debian
# packages are built by scripts/package from packaging/debian.
include(GNUInstallDirs)

set(tavrinAppId org.example.tavrin)
set(packagingDir ${PROJECT_SOURCE_DIR}/packaging)
set(generatedDir ${PROJECT_BINARY_DIR}/packaging)

configure_file(${packagingDir}/tavrin-cli.1.in ${generatedDir}/tavrin-cli.1 @ONLY)
install(FILES ${generatedDir}/tavrin-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packagingDir}/tavrin-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tavrin-cli)

if(TAVRIN_BUILD_UI)
  configure_file(${packagingDir}/tavrin.1.in ${generatedDir}/tavrin.1 @ONLY)
  configure_file(${packagingDir}/${tavrinAppId}.metainfo.xml.in ${generatedDir}/${tavrinAppId}.metainfo.xml @ONLY)
  install(FILES ${generatedDir}/tavrin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packagingDir}/${tavrinAppId}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${generatedDir}/${tavrinAppId}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # 16 and 32 pixels are drawn by hand; the larger sizes are rendered from
  # the scalable icon by packaging/render-icons.
  set(iconsDir ${PROJECT_SOURCE_DIR}/ui/icons)
  set(hicolorDir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  foreach(size 16 32)
    install(FILES ${iconsDir}/tavrin-${size}x${size}-16.png DESTINATION ${hicolorDir}/${size}x${size}/apps
            RENAME tavrin.png)
  endforeach()
  foreach(size 48 64 128 256)
    install(FILES ${iconsDir}/tavrin-${size}x${size}.png DESTINATION ${hicolorDir}/${size}x${size}/apps
            RENAME tavrin.png)
  endforeach()
  install(FILES ${iconsDir}/tavrin.svg DESTINATION ${hicolorDir}/scalable/apps)

  if(TAVRIN_BUILD_TESTS)
    # Both checkers pass files with hints; a hint fails these tests, too.
    find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
    find_program(APPSTREAMCLI appstreamcli)
    if(DESKTOP_FILE_VALIDATE)
      add_test(NAME desktop_file_validate
               COMMAND ${DESKTOP_FILE_VALIDATE} ${packagingDir}/${tavrinAppId}.desktop)
      set_tests_properties(desktop_file_validate PROPERTIES FAIL_REGULAR_EXPRESSION ".")
    endif()
    if(APPSTREAMCLI)
      add_test(NAME metainfo_validate
               COMMAND ${APPSTREAMCLI} validate --pedantic --no-net ${generatedDir}/${tavrinAppId}.metainfo.xml)
      set_tests_properties(metainfo_validate PROPERTIES PASS_REGULAR_EXPRESSION "Validation was successful\\.")
    endif()
  endif()
endif()
