# qel_add_model(<name>): the engine compiled against models/<name>/tree.hpp,
# as the host-loaded module <name>.qel and as the static library qel_<name>
# through which tests reach internal routines.

file(STRINGS ${QEL_EXPORT_LIST} _qel_exports REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
set(_qel_map "{\n  global:\n")
foreach(sym IN LISTS _qel_exports)
  string(APPEND _qel_map "    ${sym};\n")
endforeach()
string(APPEND _qel_map "  local:\n    *;\n};\n")
file(WRITE ${PROJECT_BINARY_DIR}/exports.map "${_qel_map}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QEL_EXPORT_LIST})

function(qel_add_model name)
  set(engine qel_engine_${name})
  add_library(${engine} OBJECT ${QEL_ENGINE_SOURCES})
  target_include_directories(${engine} PUBLIC
    ${PROJECT_SOURCE_DIR}/models/${name} ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(${engine} PRIVATE ${QEL_ENGINE_OPTIONS})
  target_compile_definitions(${engine} PUBLIC QEL_BUILDING_MODULE)

  add_library(${name} MODULE $<TARGET_OBJECTS:${engine}> $<TARGET_OBJECTS:qel_core>)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".qel"
    LIBRARY_OUTPUT_DIRECTORY ${QEL_MODULE_DIR})
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${PROJECT_BINARY_DIR}/exports.map -Wl,--no-undefined)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PROJECT_BINARY_DIR}/exports.map)

  add_library(qel_${name} STATIC $<TARGET_OBJECTS:${engine}> $<TARGET_OBJECTS:qel_core>)
  target_include_directories(qel_${name} PUBLIC
    ${PROJECT_SOURCE_DIR}/models/${name} ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(qel_${name} PUBLIC QEL_BUILDING_MODULE)
endfunction()
