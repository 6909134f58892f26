# What `cmake --install BUILD --prefix DIR [--strip]` puts in place. The win32
# build is a release's one folder: the repair tool and the archive tool side
# by side (scripts/release.sh does the whole release build). A host build
# installs the archive tool as a command, bin/tolma, with its manual page,
# share/man/man1/tolma.1.
if(HVB_TARGET STREQUAL "win32")
  if(TARGET repair)
    install(TARGETS repair RUNTIME DESTINATION .)
  endif()
  if(TARGET tolma)
    install(TARGETS tolma RUNTIME DESTINATION .)
  endif()
elseif(TARGET tolma)
  include(GNUInstallDirs)
  install(TARGETS tolma RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/tools/tolma/tolma.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
