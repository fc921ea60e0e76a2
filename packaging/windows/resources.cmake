# The Windows resources: the icon, the version information, the manifest and the texts of the event log
# records (a message table compiled from ktrsvc_events.mc), linked into a program with ktr_add_resources.
enable_language(RC)
set(KTR_RC_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KTR_RC_OUT ${CMAKE_BINARY_DIR}/resources)
file(MAKE_DIRECTORY ${KTR_RC_OUT})
configure_file(${KTR_RC_DIR}/ktrsvc.manifest ${KTR_RC_OUT}/ktrsvc.manifest @ONLY)
configure_file(${KTR_RC_DIR}/ktrsvc.rc.in ${KTR_RC_OUT}/ktrsvc.rc @ONLY)
find_program(KTR_WINDMC NAMES ${KTR_MINGW}-windmc windmc REQUIRED)
add_custom_command(
  OUTPUT ${KTR_RC_OUT}/ktrsvc_events.rc ${KTR_RC_OUT}/ktrsvc_events.h ${KTR_RC_OUT}/MSG00409.bin
  COMMAND ${KTR_WINDMC} -h ${KTR_RC_OUT} -r ${KTR_RC_OUT} ${KTR_RC_DIR}/ktrsvc_events.mc
  DEPENDS ${KTR_RC_DIR}/ktrsvc_events.mc
  COMMENT "Compiling the event log texts")
set_source_files_properties(${KTR_RC_OUT}/ktrsvc.rc PROPERTIES
  INCLUDE_DIRECTORIES ${KTR_RC_OUT}
  OBJECT_DEPENDS "${KTR_RC_OUT}/ktrsvc_events.rc;${KTR_RC_OUT}/MSG00409.bin;${KTR_RC_DIR}/ktrsvc.ico;${KTR_RC_OUT}/ktrsvc.manifest")

function(ktr_add_resources target)
  target_sources(${target} PRIVATE ${KTR_RC_OUT}/ktrsvc.rc)
endfunction()
