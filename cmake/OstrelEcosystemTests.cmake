# Tests of what users build on: the installed package, the Python package and the command-line
# tool. They run the native Linux build only (not the cross build, not under sanitizers, whose
# runtimes a plain python3 or cc cannot load).
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
    ENVIRONMENT "OSTREL_LIBRARY_DIR=$<TARGET_FILE_DIR:OstrelDAQEngine>:$<TARGET_FILE_DIR:OstrelBoardSim>;OSTREL_DAQ_TOOL=$<TARGET_FILE:ostrel-daq>;PYTHONPATH=${PROJECT_SOURCE_DIR}/python;PYTHONDONTWRITEBYTECODE=1")
endif()
