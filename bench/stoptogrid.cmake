qx_add_bench(bench_stoptogrid SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_stoptogrid.cpp LIBS QuellorixApp)
