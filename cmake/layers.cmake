# Each layer is a library whose headers are reachable only through its own include root: a
# folder in the build tree holding links to the layer's sources and nothing else. A library
# sees the headers of the layers it links and no others, so an include that runs against the
# layering (protocol reaching into device, device into ui) finds no file and fails to build.
#
#   qvr_include_root(TARGET VISIBILITY PATH...)
#
# PATH is a folder or a file below src/; it appears under the same relative path in the root.
function(qvr_include_root target visibility)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  foreach(path IN LISTS ARGN)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${path})
      # A copy where the file system has no links (a Windows host without the privilege); it is
      # made again by the next configure.
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${path} ${root}/${path} SYMBOLIC COPY_ON_ERROR)
    endif()
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()
