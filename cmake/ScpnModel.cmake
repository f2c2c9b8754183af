# add_scpn_model(<target> <description.xml>)
#
# Compiles a model description with scpnc into ${CMAKE_BINARY_DIR}/models/<target>/
# and builds from it:
#   <target>_model  static library: the generated classes, compiled with
#                   SCPN_NO_MAIN (what tests link to build the net in-process);
#   <target>_app    static library: src/app compiled against this model (the
#                   Server holds the model's ImplementedNetClass by value);
#   <target>        the executable; its main comes from the generated buildnet.cpp.
#
# Which class files scpnc writes depends on the description, but the build only
# compiles files with fixed names: buildnet.cpp and model_sources.cpp, which
# includes every generated class source. So the target set never depends on the
# description's contents, and a changed description simply regenerates: scpnc
# reruns whenever the description or scpnc itself changes, and it rewrites only
# files whose content changed, so only those (and what includes them) recompile.
function(add_scpn_model target description)
  get_filename_component(description "${description}" ABSOLUTE)
  set(out "${CMAKE_BINARY_DIR}/models/${target}")
  set(generated "${out}/buildnet.h" "${out}/buildnet.cpp" "${out}/model_sources.cpp")
  set(stamp "${out}/scpnc.stamp")

  add_custom_command(
    OUTPUT "${stamp}"
    BYPRODUCTS ${generated}
    COMMAND scpnc "${description}" "${out}"
    COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
    DEPENDS "${description}" scpnc
    COMMENT "Compiling model description ${description}"
    VERBATIM)
  add_custom_target(${target}_sources DEPENDS "${stamp}")
  set_source_files_properties(${generated} PROPERTIES GENERATED TRUE)

  add_library(${target}_model STATIC "${out}/buildnet.cpp" "${out}/model_sources.cpp")
  add_dependencies(${target}_model ${target}_sources)
  target_compile_definitions(${target}_model PRIVATE SCPN_NO_MAIN)
  target_include_directories(${target}_model PUBLIC "${out}")

  file(GLOB app_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/app/*.cpp")
  add_library(${target}_app STATIC ${app_sources})
  add_dependencies(${target}_app ${target}_sources)
  target_include_directories(${target}_app PUBLIC "${out}")

  # The model's tokens log through the app's MainClass and the app builds the
  # model's net: the two libraries need each other.
  target_link_libraries(${target}_model PUBLIC ${target}_app scpnkernel)
  target_link_libraries(${target}_app PUBLIC ${target}_model scpnkernel)
  if(TARGET scpnmpi)
    target_link_libraries(${target}_app PUBLIC scpnmpi)
  endif()

  add_executable(${target} "${out}/buildnet.cpp")
  add_dependencies(${target} ${target}_sources)
  target_link_libraries(${target} PRIVATE ${target}_model ${target}_app ${SCPN_MALLOC_LIBRARY})
endfunction()
