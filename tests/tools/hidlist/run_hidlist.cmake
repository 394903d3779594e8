# Runs ormelix-hidlist and checks its output against what this machine has.
execute_process(COMMAND ${HIDLIST}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)

file(GLOB udev /lib/*/libudev.so.1 /usr/lib/*/libudev.so.1 /lib64/libudev.so.1
               /usr/lib64/libudev.so.1 /lib/libudev.so.1 /usr/lib/libudev.so.1)
file(GLOB nodes /dev/hidraw*)

if(udev)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "exit ${rc}, expected 0; stderr: ${err}")
  endif()
  string(REGEX MATCH "^PATH +VID +PID +ACCESS +INSTRUMENT +MANUFACTURER +PRODUCT +NOTE\n" header "${out}")
  if(NOT header)
    message(FATAL_ERROR "no header line in:\n${out}")
  endif()
  string(REGEX MATCHALL "\n" lines "${out}")
  list(LENGTH lines count)
  if(NOT nodes AND NOT count EQUAL 1)
    message(FATAL_ERROR "rows listed on a machine without hidraw nodes:\n${out}")
  endif()
else()
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "exit ${rc} without libudev, expected 1")
  endif()
  if(NOT err MATCHES "^ormelix-hidlist: [^\n]*libudev[^\n]*\n$")
    message(FATAL_ERROR "expected one error line naming libudev, got: ${err}")
  endif()
endif()
