# Runs vtrctl with ARGS and compares its standard output with EXPECT.
# -DVTRCTL=... -DARGS=a;b;c -DEXPECT=file [-DEXIT=n] [-DMATCH=1: EXPECT is a regular
# expression for the whole output] [-DRUN_TIMEOUT=seconds]
if(NOT DEFINED EXIT)
  set(EXIT 0)
endif()
if(NOT DEFINED RUN_TIMEOUT)
  set(RUN_TIMEOUT 100)
endif()
execute_process(COMMAND ${VTRCTL} --sim ${ARGS}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT ${RUN_TIMEOUT})
file(READ ${EXPECT} expected)
if(MATCH)
  if(NOT out MATCHES "^${expected}$")
    message(FATAL_ERROR "vtrctl output does not match.\n--- expected\n${expected}--- got\n${out}--- stderr\n${err}")
  endif()
elseif(NOT out STREQUAL expected)
  message(FATAL_ERROR "vtrctl output differs.\n--- expected\n${expected}--- got\n${out}--- stderr\n${err}")
endif()
if(NOT rc EQUAL EXIT)
  message(FATAL_ERROR "vtrctl exited with ${rc}, expected ${EXIT}\n${err}")
endif()
