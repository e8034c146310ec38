qx_add_test(tst_mystringgrid SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mystringgrid.cpp LIBS QuellorixWidgets)
qx_add_test(tst_mycustomgrid SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mycustomgrid.cpp LIBS QuellorixWidgets)
