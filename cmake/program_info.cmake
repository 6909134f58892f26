# Version information and an application manifest for a win32 program (the
# manifest may name @P_NAME@ and @PROJECT_VERSION@):
#   hvb_program_info(TARGET DESCRIPTION text MANIFEST file LANGUAGE id CODEPAGE cp [INCLUDED_BY_RC dir])
# The script is written in UTF-8 and compiled in the code page CODEPAGE names
# (932 for Japanese texts). With INCLUDED_BY_RC the script is only placed in
# dir as program_info.rc, for a resource script of the target's own to
# include (one resource directory per program); otherwise it is compiled and
# linked into the target.
find_program(HVB_ICONV iconv REQUIRED)
function(hvb_program_info target)
  cmake_parse_arguments(P "" "DESCRIPTION;MANIFEST;LANGUAGE;CODEPAGE;INCLUDED_BY_RC" "" ${ARGN})
  set(P_NAME ${target})
  set(P_FILE ${target}.exe)
  math(EXPR language_hex "${P_LANGUAGE}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR codepage_hex "${P_CODEPAGE}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" language_digits "${language_hex}")
  string(REGEX REPLACE "^0x" "" codepage_digits "${codepage_hex}")
  foreach(var language_digits codepage_digits)
    string(LENGTH "${${var}}" n)
    while(n LESS 4)
      set(${var} "0${${var}}")
      math(EXPR n "${n} + 1")
    endwhile()
  endforeach()
  string(TOLOWER "${language_digits}${codepage_digits}" P_BLOCK)
  # The manifest names the program and its version as the build knows them.
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}_info/${target}.manifest)
  configure_file(${P_MANIFEST} ${manifest} @ONLY)
  set(P_MANIFEST ${manifest})
  set(utf8 ${CMAKE_CURRENT_BINARY_DIR}/${target}_info/program_info.utf8.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/program_info.rc.in ${utf8} @ONLY)
  if(P_INCLUDED_BY_RC)
    set(rc ${P_INCLUDED_BY_RC}/program_info.rc)
  else()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_info/program_info.rc)
  endif()
  add_custom_command(
    OUTPUT ${rc}
    COMMAND ${HVB_ICONV} -f UTF-8 -t CP${P_CODEPAGE} ${utf8} -o ${rc}
    DEPENDS ${utf8} ${P_MANIFEST}
    COMMENT "Version information of ${P_FILE}")
  if(P_INCLUDED_BY_RC)
    return()
  endif()
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${target}_info/program_info.o)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} --codepage=${P_CODEPAGE} -i ${rc} -o ${object}
    DEPENDS ${rc}
    COMMENT "Compiling the version information of ${P_FILE}")
  target_sources(${target} PRIVATE ${object})
endfunction()
