# What a release puts in one folder: the repair tool and the archive tool.
# `cmake --install BUILD --prefix DIR --strip` installs them stripped
# (scripts/release.sh does the whole release build).
if(TARGET repair)
  install(TARGETS repair RUNTIME DESTINATION .)
endif()
if(TARGET tolma)
  install(TARGETS tolma RUNTIME DESTINATION .)
endif()
