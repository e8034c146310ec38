qx_add_bench(bench_comport SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_comport.cpp LIBS QuellorixBarrier QuellorixLive)
include(${CMAKE_SOURCE_DIR}/tests/support/ScriptedSerialLine.cmake)
qx_use_scripted_line(bench_comport)
