# Read by CTest after the run tests are discovered: properties of single tests.
set_tests_properties(windows.Run.DefaultDirectoryIsCreatedUnderProgramFiles PROPERTIES
  RESOURCE_LOCK zev_machine_state)
set_tests_properties(windows.Run.ConcurrentRunsIntoOneDirectoryKeepTheirOwnOutcome PROPERTIES
  RUN_SERIAL TRUE)
