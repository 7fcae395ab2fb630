# dorvane_layer_include(TARGET SCOPE FOLDER): TARGET (and with PUBLIC, whatever links it) includes
# FOLDER's headers as "FOLDER/name.h" and sees no other folder of the source tree. A folder of the
# build holds nothing but a link named FOLDER to the source folder, so a target reaches exactly the
# layers it links. FOLDER is relative to the project's source folder ("link", "tests/support").
function(dorvane_layer_include target scope folder)
  string(MAKE_C_IDENTIFIER "${folder}" name)
  set(root ${PROJECT_BINARY_DIR}/layer-include/${name})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()
