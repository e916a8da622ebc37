# postvue_version_resource(TARGET FILE_NAME DESCRIPTION): the program's
# version information (File properties > Details) on Windows; nothing elsewhere.
function(postvue_version_resource target file_name description)
  if(NOT WIN32)
    return()
  endif()
  set(POSTVUE_FILE_NAME ${file_name})
  set(POSTVUE_FILE_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
