qx_add_bench(bench_starterlist SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_starterlist.cpp LIBS QuellorixApp)
