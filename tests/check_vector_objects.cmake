# cmake -DNM=<nm> -DOBJECTS=<object files> -P check_vector_objects.cmake
# The vector kernels are compiled for wider instruction sets than the
# baseline. Each may define one global symbol, its entry point, which runs
# only after the CPU check: any other global or weak definition (an inline
# function or template instance with external linkage) could be the copy
# the linker keeps for the baseline code too, and fault on an older CPU.
set(checked 0)
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "vector_kernel_(avx[0-9]+)\\.cpp\\.o(bj)?$")
    continue()
  endif()
  execute_process(COMMAND ${NM} --defined-only -C "${object}" OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
  set(globals "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* +[A-Zuvw] +(.*)$")
      list(APPEND globals "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  # Elsewhere than on x86-64 the kernels compile to nothing.
  if(globals AND NOT globals MATCHES "^runUnitsAvx[0-9]+\\(VectorUnitJob const&\\)$")
    message(FATAL_ERROR "${object} should define only its entry point globally, found: ${globals}")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked LESS 2)
  message(FATAL_ERROR "expected the AVX2 and AVX-512 kernel objects among: ${OBJECTS}")
endif()
message(STATUS "${checked} vector kernel objects define only their entry points")
