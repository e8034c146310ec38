qx_add_test(tst_settings SOURCES tst_settings.cpp LIBS QuellorixBarrierBase)
qx_add_test(tst_cfgdialog SOURCES tst_cfgdialog.cpp LIBS QuellorixBarrier)
