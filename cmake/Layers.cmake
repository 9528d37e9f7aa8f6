# ecg_expose(<target> <folder>)
# The layers are enforced by what each library can see: a library's headers
# are reachable only as "<folder>/Header.h", through an include root that
# holds that one folder, and only by targets that link the library. So a
# lower layer that includes a higher one's header fails to build, instead of
# quietly growing a dependency the other way round.
function(ecg_expose target folder)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${folder})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
