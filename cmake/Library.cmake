# fb_library(<name> <sources...>): a static library, or an interface target
# while a layer has headers only. The fb_target_* helpers pick the matching
# keyword so callers need not care which it is.
function(fb_library name)
  if(ARGN)
    add_library(${name} STATIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
  endif()
endfunction()

function(_fb_scope name out)
  get_target_property(_type ${name} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    set(${out} INTERFACE PARENT_SCOPE)
  else()
    set(${out} PUBLIC PARENT_SCOPE)
  endif()
endfunction()

function(fb_target_include_directories name)
  _fb_scope(${name} _scope)
  target_include_directories(${name} ${_scope} ${ARGN})
endfunction()

function(fb_target_link_libraries name)
  _fb_scope(${name} _scope)
  target_link_libraries(${name} ${_scope} ${ARGN})
endfunction()
