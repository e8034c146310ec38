qx_add_test(tst_webpage SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_webpage.cpp LIBS QuellorixReports)
qx_add_test(tst_protocolprint SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_protocolprint.cpp LIBS QuellorixReports)
