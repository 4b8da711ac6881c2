# The stub raises no C++ exceptions: on 32-bit x86, where structured
# exceptions find their handlers through the thread's exception list, unwind
# tables would only take room. On x86-64 the platform walks every frame by
# them to dispatch a structured exception, so they stay.
set(CORVANE_NO_UNWIND_TABLES "")
if(WIN32 AND NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CORVANE_NO_UNWIND_TABLES -fno-asynchronous-unwind-tables)
endif()

# Compiler flags shared by every library that goes into the stub: small code, no
# C++ exceptions or RTTI (no exception crosses our operations), sections that the
# linker can drop.
function(corvane_stub_library target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
    -Os -ffunction-sections -fdata-sections ${CORVANE_NO_UNWIND_TABLES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
