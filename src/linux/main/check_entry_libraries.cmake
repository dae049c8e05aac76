# Fails when the entry (PROGRAM) needs a dynamic loader or any shared library: it is started by every
# agent hook, and runs alone on servers whatever their C library (the tovami-cli package,
# "Install on <host>"). A new call from the entry's code into a library it takes only as a shared
# object (Qt, an xcb extension) shows here.
#   cmake -DPROGRAM=path/to/tovami -DREADELF=readelf -P check_entry_libraries.cmake
if(NOT READELF)
  set(READELF readelf)
endif()
execute_process(COMMAND ${READELF} -lW -d ${PROGRAM} OUTPUT_VARIABLE described RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "check_entry_libraries: ${READELF} -lW -d ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needs "${described}")
if(needs OR described MATCHES "Requesting program interpreter")
  string(REGEX REPLACE "Shared library: \\[([^]]+)\\]" "\\1" needs "${needs}")
  list(JOIN needs ", " shown)
  if(shown)
    set(shown " and ${shown}")
  endif()
  message(FATAL_ERROR "${PROGRAM} is not a static program (it needs the dynamic loader${shown}): the entry "
                      "starts at every agent hook and runs alone on servers (see src/linux/CMakeLists.txt)")
endif()
