# The version resource, icon and manifest of a Windows program: each gets a
# resource file of its own from tavrin.rc.in.
set(TAVRIN_WINDOWS_DIR ${PROJECT_SOURCE_DIR}/packaging/windows)

function(tavrin_add_windows_resources target description)
  set(TAVRIN_FILE_NAME ${target}.exe)
  set(TAVRIN_FILE_DESCRIPTION ${description})
  configure_file(${TAVRIN_WINDOWS_DIR}/tavrin.rc.in ${PROJECT_BINARY_DIR}/windows/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/windows/${target}.rc)
endfunction()

tavrin_add_windows_resources(tavrin-cli "Tavrin on the command line")
if(TARGET tavrin)
  tavrin_add_windows_resources(tavrin "Tavrin")
endif()

# What a Windows user downloads, made by the target windows-packages: the
# installer and a zip of the two programs with the licences, in dist/ of the
# build folder.
if(TARGET tavrin)
  find_program(MAKENSIS makensis)
  find_program(ZIP zip)
  set(distDir ${PROJECT_BINARY_DIR}/dist)
  set(stageDir ${PROJECT_BINARY_DIR}/windows/tavrin-${TAVRIN_VERSION_TEXT}-win64)
  set(TAVRIN_INSTALLER ${distDir}/tavrin-${TAVRIN_VERSION_TEXT}-setup.exe)
  set(portableZip ${distDir}/tavrin-${TAVRIN_VERSION_TEXT}-win64.zip)
  # The zip's files, in a fixed order, dated as the release in the Debian
  # changelog (zip writes the date in UTC) and without the extra times of the
  # file system, so that two builds make the same zip.
  set(stageName tavrin-${TAVRIN_VERSION_TEXT}-win64)
  set(zipFiles ${stageName}/LICENSE.txt ${stageName}/Unicode-LICENSE.txt ${stageName}/tavrin-cli.exe
               ${stageName}/tavrin.exe)
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog releaseLine REGEX "^ -- " LIMIT_COUNT 1)
  string(REGEX REPLACE "^.*>  " "" releaseDate "${releaseLine}")
  set(TAVRIN_LICENSE ${stageDir}/LICENSE.txt)
  set(TAVRIN_UNICODE_LICENSE ${stageDir}/Unicode-LICENSE.txt)
  set(TAVRIN_WINDOW ${stageDir}/tavrin.exe)
  set(TAVRIN_CLI ${stageDir}/tavrin-cli.exe)
  configure_file(${TAVRIN_WINDOWS_DIR}/tavrin.nsi.in ${PROJECT_BINARY_DIR}/windows/tavrin.nsi @ONLY)
  # The licences with Windows line ends, for Notepad; the lower-case table
  # in the programs comes from the Unicode Character Database.
  foreach(licence "${PROJECT_SOURCE_DIR}/LICENSE;${TAVRIN_LICENSE}"
                  "/usr/share/doc/unicode-data/copyright;${TAVRIN_UNICODE_LICENSE}")
    list(GET licence 0 from)
    list(GET licence 1 to)
    file(READ ${from} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${to} "${text}")
  endforeach()
  add_custom_target(windows-packages
    COMMAND ${CMAKE_COMMAND} -E make_directory ${distDir}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tavrin> $<TARGET_FILE:tavrin-cli> ${stageDir}
    COMMAND ${MAKENSIS} -V2 ${PROJECT_BINARY_DIR}/windows/tavrin.nsi
    COMMAND ${CMAKE_COMMAND} -E rm -f ${portableZip}
    COMMAND ${CMAKE_COMMAND} -E chdir ${PROJECT_BINARY_DIR}/windows touch -d "${releaseDate}" ${zipFiles}
    COMMAND ${CMAKE_COMMAND} -E chdir ${PROJECT_BINARY_DIR}/windows
            ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -q -X ${portableZip} ${zipFiles}
    DEPENDS tavrin tavrin-cli
    COMMENT "Making the Windows installer and the portable zip")
endif()

# The window's test runs the window as the program does: with today's common
# controls, laid out for each monitor's dots per inch.
if(TARGET ui_win32_test)
  tavrin_add_windows_resources(ui_win32_test "Tests of the Tavrin window")
endif()
