# The stub's manifest names the processor it was built for; every program that
# carries the stub's resources finds it in CORVANE_RESOURCES_DIR.
if(WIN32)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CORVANE_MANIFEST_ARCHITECTURE amd64)
  else()
    set(CORVANE_MANIFEST_ARCHITECTURE x86)
  endif()
  set(CORVANE_RESOURCES_DIR ${PROJECT_BINARY_DIR}/resources)
  configure_file(${PROJECT_SOURCE_DIR}/resources/CorvaneUpdateSetup.manifest.in
                 ${CORVANE_RESOURCES_DIR}/CorvaneUpdateSetup.manifest @ONLY)
endif()

# corvane_add_stub(NAME PAYLOAD file.bin): the stub executable with `file.bin`
# embedded as its payload resource (type "B", id 102, language neutral).
function(corvane_add_stub name)
  cmake_parse_arguments(ARG "" "PAYLOAD" "" ${ARGN})
  set(payload_rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_payload.rc)
  file(WRITE ${payload_rc}.in
    "LANGUAGE 0, 0\n102 B \"${ARG_PAYLOAD}\"\n")
  configure_file(${payload_rc}.in ${payload_rc} COPYONLY)
  set_source_files_properties(${payload_rc} PROPERTIES OBJECT_DEPENDS ${ARG_PAYLOAD})
  set_source_files_properties(${PROJECT_SOURCE_DIR}/resources/stub.rc PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/strings.rc;${CORVANE_RESOURCES_DIR}/CorvaneUpdateSetup.manifest")

  add_executable(${name} WIN32
    ${PROJECT_SOURCE_DIR}/app/main.cpp
    ${PROJECT_SOURCE_DIR}/resources/stub.rc
    ${payload_rc})
  corvane_stub_library(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/resources ${CORVANE_RESOURCES_DIR})
  target_link_libraries(${name} PRIVATE vireo_app)
  target_link_options(${name} PRIVATE
    -s -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    # ASLR over the whole 64-bit address space (a 64-bit image is large-address
    # aware as linked).
    target_link_options(${name} PRIVATE -Wl,--high-entropy-va)
  else()
    # A 32-bit image that may use 4 GiB under WOW64, with ASLR and DEP.
    target_link_options(${name} PRIVATE -Wl,--large-address-aware)
  endif()
  # Section raw sizes aligned as the format requires, before anything signs it.
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CORVANE_HOST_TOOLS_DIR}/corvane-finish-image $<TARGET_FILE:${name}>
    VERBATIM)
  # The same sources give the same bytes: the image's time stamp is
  # SOURCE_DATE_EPOCH, as set when the tree was configured, or else zero,
  # never the time of linking (the checksum follows from it).
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '$ENV{SOURCE_DATE_EPOCH}'")
    endif()
    set_property(TARGET ${name} PROPERTY RULE_LAUNCH_LINK
      "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH}")
  else()
    target_link_options(${name} PRIVATE -Wl,--no-insert-timestamp)
  endif()
endfunction()
