qx_add_bench(bench_sortgrid SOURCES bench_sortgrid.cpp LIBS QuellorixWidgets)
