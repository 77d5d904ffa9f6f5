# velqor_add_areas(): adds every sub-folder of the calling folder that has a CMakeLists.txt, in
# name order; each is one area of its own (the programs, benchmarks and fuzz targets).
function(velqor_add_areas)
  file(GLOB _areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
    ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _areas)
  foreach(_area IN LISTS _areas)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_area} AND
       EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_area}/CMakeLists.txt)
      add_subdirectory(${_area})
    endif()
  endforeach()
endfunction()
