qx_add_test(tst_runtime SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_runtime.cpp LIBS QuellorixCore)
qx_add_test(tst_protocollogic SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_protocollogic.cpp LIBS QuellorixCore)
qx_add_test(tst_runtimeentry SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_runtimeentry.cpp LIBS QuellorixCore)
qx_add_test(tst_runcycle SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_runcycle.cpp LIBS QuellorixCore)
