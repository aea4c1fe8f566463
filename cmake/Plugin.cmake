# fb_add_plugin(<name> SOURCES <files...> LIBS <libs...>)
# A browser plugin library: a MODULE named <name>.so (no "lib" prefix) that
# exports exactly the five NP_* entry points, stays loaded once loaded (a
# detached worker thread never runs unloaded code) and links every framework
# library whole, so that load-time set-up is never dropped by the linker.
set(FB_PLUGIN_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/plugin-exports.map)

function(fb_add_plugin name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "")
  # Whole archives first; the targets again for their own dependencies
  # (members already loaded are not loaded twice).
  set(_whole)
  foreach(_lib IN LISTS ARG_LIBS)
    list(APPEND _whole "$<TARGET_FILE:${_lib}>")
  endforeach()
  target_link_libraries(${name} PRIVATE
    -Wl,--whole-archive ${_whole} -Wl,--no-whole-archive ${ARG_LIBS})
  add_dependencies(${name} ${ARG_LIBS})
  # A fuzzing build leaves the sanitizer and fuzzer hooks to the runtime
  # that clang links into the executable, so they cannot be defined here.
  if(FB_FUZZ)
    set(_defs)
  else()
    set(_defs -Wl,-z,defs)
  endif()
  # -z nodelete: an update's package-manager sequence runs on a detached
  # worker that the plugin cannot stop, so it may still run the library's
  # code after NP_Shutdown and after the browser dlcloses the library; without
  # the flag the code is unmapped under it and the browser dies when the
  # command ends. Guarded by tests/kzoinstallplugin/testhome/
  # test_InstallerStaysMapped.cpp.
  target_link_options(${name} PRIVATE
    -Wl,-z,nodelete ${_defs} -Wl,--version-script=${FB_PLUGIN_EXPORTS})
  set_target_properties(${name} PROPERTIES LINK_DEPENDS ${FB_PLUGIN_EXPORTS})
endfunction()
