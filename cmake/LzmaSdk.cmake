# The LZMA SDK's C sources (unpacked by build.sh into a git-ignored cache) built as
# static libraries: the decoder for the stub, the encoder for the packer and tests.
set(CORVANE_LZMA_SDK_DIR "" CACHE PATH "The C folder of the LZMA SDK")
if(NOT EXISTS "${CORVANE_LZMA_SDK_DIR}/LzmaDec.c")
  message(FATAL_ERROR "LZMA SDK not found in '${CORVANE_LZMA_SDK_DIR}'; ./build.sh setup fetches it")
endif()
get_filename_component(_sdk_root "${CORVANE_LZMA_SDK_DIR}" DIRECTORY)
if(EXISTS "${_sdk_root}/VERSION")
  file(STRINGS "${_sdk_root}/VERSION" _sdk_version REGEX "^sdk_version=")
  string(REPLACE "sdk_version=" "" CORVANE_LZMA_SDK_VERSION "${_sdk_version}")
  message(STATUS "LZMA SDK version ${CORVANE_LZMA_SDK_VERSION}")
endif()

# The decoder is nearly the whole cost of a run: it gets its own optimisation flags
# (see bench/), independent of the size-optimised rest of the stub.
set(CORVANE_LZMA_DECODER_FLAGS "-O2" CACHE STRING "Compiler flags for the SDK's decoder")
separate_arguments(_decoder_flags UNIX_COMMAND "${CORVANE_LZMA_DECODER_FLAGS}")

add_library(lzma_sdk_decoder STATIC
  ${CORVANE_LZMA_SDK_DIR}/LzmaDec.c
  ${CORVANE_LZMA_SDK_DIR}/Bcj2.c)
target_include_directories(lzma_sdk_decoder SYSTEM PUBLIC ${CORVANE_LZMA_SDK_DIR})
target_compile_definitions(lzma_sdk_decoder PUBLIC Z7_ST)
target_compile_options(lzma_sdk_decoder PRIVATE ${_decoder_flags} -w)
# Without unwind tables where they would only take room (StubFlags.cmake).
target_compile_options(lzma_sdk_decoder PRIVATE ${CORVANE_NO_UNWIND_TABLES})

# The encoder may run its match finder on a second thread (LzFindMt).
find_package(Threads REQUIRED)
add_library(lzma_sdk_encoder STATIC
  ${CORVANE_LZMA_SDK_DIR}/LzmaEnc.c
  ${CORVANE_LZMA_SDK_DIR}/LzFind.c
  ${CORVANE_LZMA_SDK_DIR}/LzFindMt.c
  ${CORVANE_LZMA_SDK_DIR}/LzFindOpt.c
  ${CORVANE_LZMA_SDK_DIR}/Threads.c
  ${CORVANE_LZMA_SDK_DIR}/Bcj2Enc.c
  ${CORVANE_LZMA_SDK_DIR}/CpuArch.c)
target_include_directories(lzma_sdk_encoder SYSTEM PUBLIC ${CORVANE_LZMA_SDK_DIR})
target_compile_options(lzma_sdk_encoder PRIVATE -O2 -w)
target_link_libraries(lzma_sdk_encoder PUBLIC Threads::Threads)
