# Include paths that keep the layers: a library's code and its users include
# "folder/x.h" from the project root, but a library sees only its own folder
# and the folders of the libraries it links. An include of a layer above (the
# tree including the jobs, the platform including the engine) finds no file
# and fails the build.

# Shows FOLDER (a path from the project root, such as engine/tree) to TARGET
# and to whatever links it: a folder of the build tree holding nothing but a
# link to FOLDER, at the same relative place, becomes TARGET's public include
# directory.
function(torquelin_layer_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
