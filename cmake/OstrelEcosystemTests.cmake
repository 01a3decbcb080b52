# Tests of what users build on: the installed package, the Python package and the command-line
# tool. The installed package and the Python package run on the native Linux build only (not under
# sanitizers, whose runtimes a plain python3 or cc cannot load); the Windows build runs the tool's
# commands under wine instead.
if(CMAKE_CROSSCOMPILING AND WIN32)
  # Each command on the simulated bus, and bad input: what must appear in the tool's output. The
  # tool is built before the tests set the emulator, so the wine runner is named here; each case
  # runs in a directory of its own.
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(OSTREL_WINE_RUNNER ${CMAKE_CROSSCOMPILING_EMULATOR})
  else()
    set(OSTREL_WINE_RUNNER ${CMAKE_BINARY_DIR}/wine-run.sh)
  endif()
  set(OSTREL_TOOL_CASES
    "list|--simulate A006,A001 list|2 boards"
    "info|--simulate A005 info 0|lanes 4, max record length 8192"
    "acquire|--simulate A006 acquire 0 --frames 2 --record-length 256 --records 64 --output frames.csv --allow-loss|2 frames of 2 lanes"
    "record|--simulate A001 record 0 --duration 3 --clock 9 --record-length 1000 --records 525 --output run.npy|written to run.npy, frame by frame information in run.frames.csv"
    "calibrate|--simulate A002 calibrate 0|16 entries"
    "bandwidth|--simulate A001 bandwidth 0|1310720 bytes"
    "awg|--simulate A006 awg 0 --channel 1 --shape square --frequency 2.5e6 --duty 0.3|channel 1: square"
    "loopback|--simulate A006 --loopback acquire 0 --awg sine:1e6:2,square:2e6:1 --plot trace.svg --allow-loss|first 2000 points written to trace.svg"
    "bad_input|--simulate A001 info 3|no board 3")
  foreach(case IN LISTS OSTREL_TOOL_CASES)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 name)
    list(GET fields 1 arguments)
    list(GET fields 2 expected)
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
    set(directory ${PROJECT_BINARY_DIR}/tool_tests/${name})
    file(MAKE_DIRECTORY ${directory})
    add_test(NAME tool_${name} COMMAND ${OSTREL_WINE_RUNNER} $<TARGET_FILE:ostrel-daq> ${arguments}
             WORKING_DIRECTORY ${directory})
    set_tests_properties(tool_${name} PROPERTIES TIMEOUT 300 PASS_REGULAR_EXPRESSION "${expected}")
  endforeach()
  # Bad input must also end with a non-zero exit code.
  add_test(NAME tool_bad_input_exit_code
           COMMAND ${OSTREL_WINE_RUNNER} $<TARGET_FILE:ostrel-daq> --simulate A001 info 3
           WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/tool_tests/bad_input)
  set_tests_properties(tool_bad_input_exit_code PROPERTIES TIMEOUT 120 WILL_FAIL TRUE)
  # A value out of range is named with its range.
  add_test(NAME tool_bad_value_names_its_range
           COMMAND ${OSTREL_WINE_RUNNER} $<TARGET_FILE:ostrel-daq> --simulate A006 acquire 0
                   --timeout 1e300 --output frames.npy
           WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/tool_tests/bad_input)
  set_tests_properties(tool_bad_value_names_its_range PROPERTIES TIMEOUT 120
                       PASS_REGULAR_EXPRESSION "--timeout must lie in 0.001..86400 s")
  return()
endif()
if(CMAKE_CROSSCOMPILING OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  return()
endif()

add_test(NAME install_consumer
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-install.sh ${PROJECT_BINARY_DIR})
set_tests_properties(install_consumer PROPERTIES TIMEOUT 300)

# Debian's python3 carries numpy and pytest; the package itself is pure Python over ctypes.
find_program(OSTREL_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(OSTREL_SYSTEM_PYTHON)
  add_test(NAME python_package
    COMMAND ${OSTREL_SYSTEM_PYTHON} -m pytest -q -p no:cacheprovider ${PROJECT_SOURCE_DIR}/python/tests
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
  set_tests_properties(python_package PROPERTIES TIMEOUT 600
    ENVIRONMENT "OSTREL_LIBRARY_DIR=$<TARGET_FILE_DIR:OstrelDAQEngine>:$<TARGET_FILE_DIR:OstrelBoardSim>;OSTREL_DAQ_TOOL=$<TARGET_FILE:ostrel-daq>;OSTREL_STANDIN_LIBRARY=${OSTREL_STANDIN_NAMED_FILE};PYTHONPATH=${PROJECT_SOURCE_DIR}/python;PYTHONDONTWRITEBYTECODE=1")
  # The wheel of scripts/install-python.sh, installed into a fresh virtual environment, runs the
  # README's example with no variable set.
  add_test(NAME python_wheel_install
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-python-install.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(python_wheel_install PROPERTIES TIMEOUT 300)
endif()
