# Runs PROGRAM with ARGS ('|'-separated) and checks its exit code, its output and, when PNG
# is given, that it wrote a 500 x 600 PNG image there.

string(REPLACE "|" ";" args "${ARGS}")
if(NO_DISPLAY)
  unset(ENV{DISPLAY})
  unset(ENV{WAYLAND_DISPLAY})
  unset(ENV{QT_QPA_PLATFORM})
endif()
if(PNG)
  file(REMOVE "${PNG}")
endif()

execute_process(COMMAND "${PROGRAM}" ${args}
  RESULT_VARIABLE exit_code OUTPUT_VARIABLE out ERROR_VARIABLE err)

if(NOT "${exit_code}" STREQUAL "${EXPECT_EXIT}")
  message(FATAL_ERROR "exit code ${exit_code}, expected ${EXPECT_EXIT}\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(EXPECT_STDOUT AND NOT out MATCHES "${EXPECT_STDOUT}")
  message(FATAL_ERROR "stdout does not match '${EXPECT_STDOUT}':\n${out}")
endif()
if(EXPECT_STDERR AND NOT err MATCHES "${EXPECT_STDERR}")
  message(FATAL_ERROR "stderr does not match '${EXPECT_STDERR}':\n${err}")
endif()

if(PNG)
  if(NOT EXISTS "${PNG}")
    message(FATAL_ERROR "no file was written at ${PNG}")
  endif()
  # Signature (8 bytes), IHDR length and type (8 bytes), then width and height.
  file(READ "${PNG}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 16 size)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${PNG} is not a PNG image (starts with ${signature})")
  endif()
  if(NOT size STREQUAL "000001f400000258")
    message(FATAL_ERROR "${PNG} is not 500 x 600 pixels (IHDR size ${size})")
  endif()
endif()
