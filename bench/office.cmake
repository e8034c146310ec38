qx_add_bench(bench_office SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_office.cpp LIBS QuellorixApp)
