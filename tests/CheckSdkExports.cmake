# Fails when the SDK library's dynamic symbol table defines what only producers inside it may use: the buffer
# access (sdk::core::BufferAccess, internPixelFormatName) and the pixel-format table.
execute_process(COMMAND nm -DC --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]*sdk::core::(BufferAccess::|internPixelFormatName|findPixelFormat|framePayloadSize)[^\n]*"
       internals "${symbols}")
if(internals)
  string(REPLACE ";" "\n" internals "${internals}")
  message(FATAL_ERROR "the SDK library exports producer internals:\n${internals}")
endif()
string(REGEX MATCH "sdk::SystemList::GetInstance" facade "${symbols}")
if(NOT facade)
  message(FATAL_ERROR "the SDK library's facade (sdk::SystemList::GetInstance) is not among its exports: wrong file?")
endif()
message(STATUS "the SDK library exports no producer internals")
