# cmake -DSOURCE=FILE -DOUTPUT=FILE -DFROM=TEXT -DTO=TEXT -P ApplyMutant.cmake
# Writes SOURCE to OUTPUT with its one occurrence of FROM replaced by TO. Fails when FROM is
# missing or occurs twice: the code the mutant was written for has changed, and a mutant
# that silently stopped applying would pass as killed.
file(READ "${SOURCE}" text)
string(FIND "${text}" "${FROM}" first)
if(first EQUAL -1)
  message(FATAL_ERROR "mutant: '${FROM}' is no longer in ${SOURCE}: update the mutant")
endif()
string(FIND "${text}" "${FROM}" last REVERSE)
if(NOT first EQUAL last)
  message(FATAL_ERROR "mutant: '${FROM}' occurs more than once in ${SOURCE}: make it unique")
endif()
string(REPLACE "${FROM}" "${TO}" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
