# Fails when the entry (PROGRAM) needs a shared library besides libc (and the dynamic loader, which
# runs it anyway): each one costs every hook's start its mapping and relocations. A new call into
# libxcb or libm from code the entry links is forwarded in entry_libraries.cpp (libutf8proc is linked
# in statically). Fails too when it needs a glibc newer than MAX_GLIBC: servers run the entry alone
# (the tovami-cli package, "Install on <host>"), and one with an older C library could not start it.
#   cmake -DPROGRAM=path/to/tovami -DREADELF=readelf -DMAX_GLIBC=2.35 -P check_entry_libraries.cmake
if(NOT READELF)
  set(READELF readelf)
endif()
if(NOT MAX_GLIBC)
  set(MAX_GLIBC 2.35)
endif()
execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "check_entry_libraries: ${READELF} -d ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" lines "${dynamic}")
set(unexpected)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "Shared library: \\[([^]]+)\\]" "\\1" library "${line}")
  if(NOT library STREQUAL "libc.so.6" AND NOT library MATCHES "^ld-linux")
    list(APPEND unexpected ${library})
  endif()
endforeach()
if(unexpected)
  list(JOIN unexpected ", " shown)
  message(FATAL_ERROR "${PROGRAM} needs ${shown}: the entry starts at every agent hook and may need libc "
                      "alone (see src/linux/main/entry_libraries.cpp)")
endif()

execute_process(COMMAND ${READELF} -V ${PROGRAM} OUTPUT_VARIABLE versions RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "check_entry_libraries: ${READELF} -V ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "Name: GLIBC_[0-9.]+" needs "${versions}")
foreach(need IN LISTS needs)
  string(REGEX REPLACE "Name: GLIBC_" "" version "${need}")
  if(version VERSION_GREATER MAX_GLIBC)
    message(FATAL_ERROR "${PROGRAM} needs glibc ${version}: the entry runs on servers with glibc ${MAX_GLIBC} and "
                        "later (see the symbols of that version in readelf -V)")
  endif()
endforeach()
