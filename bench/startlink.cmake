qx_add_bench(bench_clockagreement SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_clockagreement.cpp LIBS QuellorixCore)
