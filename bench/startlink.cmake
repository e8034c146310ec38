qx_add_bench(bench_clockagreement SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_clockagreement.cpp LIBS QuellorixCore)
qx_add_bench(bench_startlinkdelay SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_startlinkdelay.cpp LIBS QuellorixLive)
