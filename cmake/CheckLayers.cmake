# cmake -DSOURCE_DIR=<dir with src/> -P CheckLayers.cmake
#
# Fails when a file of a folder of src/ includes a header of a folder above
# it. The layers, lowest first (the order the libraries link in, see the
# top-level CMakeLists.txt):
#   platform < core < measures < engine < io < sim < app
# measures sit below engine: transitions feed the measures at every firing,
# while a measure sees only the bindings it is given.
# Every problem is listed, then the script fails; a clean tree prints the
# number of includes checked.
set(layers platform core measures engine io sim app)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()
set(problems 0)
set(checked 0)
list(LENGTH layers count)
math(EXPR last "${count} - 1")
foreach(rank RANGE ${last})
  list(GET layers ${rank} layer)
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${layer}/*.h" "${SOURCE_DIR}/src/${layer}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][a-z]+/")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([a-z]+)/.*$" "\\1" target "${line}")
      list(FIND layers "${target}" targetRank)
      if(targetRank LESS 0)
        continue()
      endif()
      math(EXPR checked "${checked} + 1")
      if(targetRank GREATER rank)
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
        message(SEND_ERROR "${shown}: ${layer} must not include ${target} (a higher layer): ${line}")
        math(EXPR problems "${problems} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
if(problems GREATER 0)
  message(FATAL_ERROR "${problems} include(s) against the layer order ${layers}")
endif()
if(checked EQUAL 0)
  message(FATAL_ERROR "no include of a layer found under ${SOURCE_DIR}/src: wrong folder?")
endif()
message(STATUS "${checked} includes between folders follow the layer order")
