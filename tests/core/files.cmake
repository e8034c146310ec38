qx_add_test(tst_protocoltext SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_protocoltext.cpp LIBS QuellorixCore)
