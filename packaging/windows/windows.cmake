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
