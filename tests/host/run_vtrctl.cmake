# Runs vtrctl with ARGS and compares its standard output with EXPECT.
# -DVTRCTL=... -DARGS=a;b;c -DEXPECT=file [-DEXIT=n]
if(NOT DEFINED EXIT)
  set(EXIT 0)
endif()
execute_process(COMMAND ${VTRCTL} --sim ${ARGS}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 100)
file(READ ${EXPECT} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "vtrctl output differs.\n--- expected\n${expected}--- got\n${out}--- stderr\n${err}")
endif()
if(NOT rc EQUAL EXIT)
  message(FATAL_ERROR "vtrctl exited with ${rc}, expected ${EXIT}\n${err}")
endif()
