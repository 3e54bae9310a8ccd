# The house is a stack of static libraries, one per folder of src/. Sources
# include headers as "folder/file.h"; each library sees only the folders of its
# own layer and of the layers below it, through a folder of links made at
# configure time. An include that reaches up names a folder that is not there,
# and the compiler refuses it.
#
#   xs_layer(NAME FOLDER SOURCES ... SEES folder... LINKS target...)
function(xs_layer name folder)
  cmake_parse_arguments(L "FILES_ONLY" "" "SOURCES;SEES;LINKS" ${ARGN})
  set(view "${CMAKE_BINARY_DIR}/layers/${name}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  # FILES_ONLY: the library sees the headers of its own folder but none of its
  # subfolders (the data core sees no engine); SEES may then name the
  # subfolders it does see ("data/sqlite").
  if(L_FILES_ONLY)
    file(MAKE_DIRECTORY "${view}/${folder}")
    file(GLOB headers RELATIVE "${PROJECT_SOURCE_DIR}/src/${folder}" CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/${folder}/*.h")
    foreach(h IN LISTS headers)
      file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${folder}/${h}" "${view}/${folder}/${h}" SYMBOLIC)
    endforeach()
    set(seen_folders ${L_SEES})
  else()
    set(seen_folders ${L_SEES} ${folder})
  endif()
  foreach(seen IN LISTS seen_folders)
    get_filename_component(parent "${view}/${seen}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${seen}" "${view}/${seen}" SYMBOLIC)
  endforeach()
  set(sources "")
  foreach(s IN LISTS L_SOURCES)
    if(IS_ABSOLUTE "${s}")
      list(APPEND sources "${s}")
    else()
      list(APPEND sources "${PROJECT_SOURCE_DIR}/src/${folder}/${s}")
    endif()
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${view}")
  xs_refuse_engine_headers(${sources})
  target_link_libraries(${name} PUBLIC ${L_LINKS})
endfunction()

# Only the engines' own folders may include their client libraries' headers:
# sqlite3.h only in src/data/sqlite/, libpq-fe.h only in src/data/pg/. Every
# other source finds a header of the same name first (cmake/engine-headers,
# searched before the system's folders) that stops the compiler with the
# reason; the CTest probe layers_engine_headers checks both that it does and
# that every source is built so.
set(XS_FILE_ENGINE_FOLDER "${PROJECT_SOURCE_DIR}/src/data/sqlite/")
set(XS_SERVER_ENGINE_FOLDER "${PROJECT_SOURCE_DIR}/src/data/pg/")
function(xs_refuse_engine_headers)
  foreach(s IN LISTS ARGN)
    if(NOT s MATCHES "\\.cpp$")
      continue()
    endif()
    string(FIND "${s}" "${XS_FILE_ENGINE_FOLDER}" in_file)
    string(FIND "${s}" "${XS_SERVER_ENGINE_FOLDER}" in_server)
    if(NOT in_file EQUAL 0)
      set_property(SOURCE "${s}" APPEND PROPERTY INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/cmake/engine-headers/file")
    endif()
    if(NOT in_server EQUAL 0)
      set_property(SOURCE "${s}" APPEND PROPERTY INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/cmake/engine-headers/server")
    endif()
  endforeach()
endfunction()
