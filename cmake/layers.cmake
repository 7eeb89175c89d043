# The layers the code is built in. A layer is one folder built as one static library. Its
# headers are included as "<folder>/<name>.h" through an include root of its own in the build
# tree, which holds that folder and nothing else; a target sees a layer's headers only when it
# links that layer, so an include across the layers that the targets do not allow fails to
# compile.
#
#   stormtally_layer(TARGET FOLDER [USES TARGET...] [EXCLUDE REGEX...])
#
# USES names the layers this one builds on (their headers reach this layer's users too);
# EXCLUDE drops sources whose path matches.

# The widget is built lean for Windows: nothing in it throws or catches, so no exception
# tables; each function and datum in a section of its own, so that the linker drops whatever
# nothing calls.
set(STORMTALLY_LEAN_OPTIONS -fno-exceptions -ffunction-sections -fdata-sections
    $<$<CONFIG:Release>:-Os>)

function(stormtally_layer target folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "USES;EXCLUDE")
  get_filename_component(folder ${folder} ABSOLUTE)
  get_filename_component(leaf ${folder} NAME)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  foreach(pattern IN LISTS arg_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX ${pattern})
  endforeach()
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  if(NOT IS_SYMLINK ${root}/${leaf})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${root}/${leaf} SYMBOLIC)
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${arg_USES})
  if(WIN32)
    target_compile_options(${target} PRIVATE ${STORMTALLY_LEAN_OPTIONS})
  endif()
endfunction()
