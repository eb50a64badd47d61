# Windows specifics of a plug-in target, called by corvane_add_plugin in
# source/CMakeLists.txt:
#
#   corvane_windows_plugin(<target> <unicode> <faults>)
#
# - the resource script of the build (string table, Q7INF, version);
# - a module-definition file, so that the export table names the entry point
#   "Corvane" only, without the stdcall decoration "Corvane@24", and the
#   fault-point builds export their four test hooks besides;
# - a fully static runtime, so that the DLL needs no DLL beyond the system's
#   own (no libstdc++, libgcc or winpthread DLL next to the host);
# - the ".dll" suffix.

function(corvane_windows_plugin target unicode faults)
  set(resources ${PROJECT_SOURCE_DIR}/resources)
  if(unicode)
    set(rc ${resources}/CORVANE_U.rc)
  else()
    set(rc ${resources}/CORVANE.rc)
  endif()
  if(faults)
    set(def ${PROJECT_SOURCE_DIR}/source/CorvaneFaults.def)
  else()
    set(def ${PROJECT_SOURCE_DIR}/source/Corvane.def)
  endif()

  target_sources(${target} PRIVATE ${rc} ${def})
  # The compiler's warning and code-generation options of the target are not
  # windres options; the resource compiler gets only defines and includes.
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES
    OBJECT_DEPENDS "${resources}/CORVANE.rc;${resources}/CorvaneTexts.h")

  target_link_options(${target} PRIVATE
    -static -static-libgcc -static-libstdc++ -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES SUFFIX ".dll")
endfunction()
