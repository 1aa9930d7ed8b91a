# A longer soak of the driver as its own test entry, labelled "soak" so it
# can be run (or left out) on its own: ctest -L soak.
add_test(NAME unit_driver_soak
         COMMAND unit_driver --gtest_color=no
                 --gtest_filter=DriverFaultTest.SoakWithConcurrentSettingsAndRegisterRequests)
set_tests_properties(unit_driver_soak PROPERTIES LABELS "soak" TIMEOUT 1800
                     ENVIRONMENT "VARNEL_DRIVER_SOAK_FRAMES=5000")
