qx_add_bench(bench_comport SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_comport.cpp LIBS QuellorixBarrier)
