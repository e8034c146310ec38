qx_add_bench(bench_protocoltext SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_protocoltext.cpp LIBS QuellorixReports)
