# Compiler flags shared by every library that goes into the stub: small code, no
# C++ exceptions or RTTI (no exception crosses our operations), sections that the
# linker can drop.
function(corvane_stub_library target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
    -Os -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
