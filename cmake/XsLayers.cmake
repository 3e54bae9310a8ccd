# The house is a stack of static libraries, one per folder of src/. Sources
# include headers as "folder/file.h"; each library sees only the folders of its
# own layer and of the layers below it, through a folder of links made at
# configure time. An include that reaches up names a folder that is not there,
# and the compiler refuses it.
#
#   xs_layer(NAME FOLDER SOURCES ... SEES folder... LINKS target...)
function(xs_layer name folder)
  cmake_parse_arguments(L "" "" "SOURCES;SEES;LINKS" ${ARGN})
  set(view "${CMAKE_BINARY_DIR}/layers/${name}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  foreach(seen IN LISTS L_SEES folder)
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

# Only the engines' own folders (src/data/sqlite/, src/data/pg/) may include
# sqlite3.h or libpq-fe.h. Every other source finds a header of the same name
# first (cmake/engine-headers, searched before the system's folders) that
# stops the compiler with the reason; the CTest probe engine_headers checks
# both that it does and that every such source is built with it.
set(XS_ENGINE_FOLDERS "${PROJECT_SOURCE_DIR}/src/data/sqlite/" "${PROJECT_SOURCE_DIR}/src/data/pg/")
function(xs_refuse_engine_headers)
  foreach(s IN LISTS ARGN)
    set(engine FALSE)
    foreach(folder IN LISTS XS_ENGINE_FOLDERS XS_ENGINE_HEADERS_STILL_USED)
      string(FIND "${s}" "${folder}" at)
      if(at EQUAL 0)
        set(engine TRUE)
      endif()
    endforeach()
    if(NOT engine AND s MATCHES "\\.cpp$")
      set_property(SOURCE "${s}" APPEND PROPERTY INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/cmake/engine-headers")
    endif()
  endforeach()
endfunction()
