# Cross-builds covemark.dll into OUTPUT_DIR: draws the pictures, prepares the neutral game
# definition, compiles the resources and the entry point and links them. The same inputs give
# the same bytes: fixed image base, no time stamp, no symbols.
#
# Variables: IMAGES (picture generator), CC (i686 MinGW-w64 gcc), WINDRES, SOURCE_DIR (gamedef/),
# OUTPUT_DIR.
foreach(var IMAGES CC WINDRES SOURCE_DIR OUTPUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build_dll.cmake: ${var} is not set")
  endif()
endforeach()

set(work ${OUTPUT_DIR}/covemark.dir)
file(MAKE_DIRECTORY ${work})

execute_process(COMMAND ${IMAGES} ${work} COMMAND_ERROR_IS_FATAL ANY)

# The neutral-language copy of the game definition is the same document without its final
# line break.
file(READ ${SOURCE_DIR}/covemark.gdf.xml gdf)
string(LENGTH "${gdf}" gdf_length)
math(EXPR last "${gdf_length} - 1")
string(SUBSTRING "${gdf}" ${last} 1 gdf_tail)
if(NOT gdf_tail STREQUAL "\n")
  message(FATAL_ERROR "covemark.gdf.xml must end with a line break")
endif()
string(SUBSTRING "${gdf}" 0 ${last} gdf_neutral)
file(WRITE ${work}/covemark_neutral.gdf.xml "${gdf_neutral}")

execute_process(
  COMMAND ${WINDRES} --input ${SOURCE_DIR}/covemark.rc --output ${work}/covemark_res.o
          --include-dir ${SOURCE_DIR} --include-dir ${work}
  COMMAND_ERROR_IS_FATAL ANY)

execute_process(
  COMMAND ${CC} -O2 -Wall -Wextra -Werror -ffreestanding -fno-asynchronous-unwind-tables -fno-ident
          -c ${SOURCE_DIR}/entry_point.c -o ${work}/entry_point.o
  COMMAND_ERROR_IS_FATAL ANY)

# Link warnings are fatal: a missing entry symbol would otherwise leave the entry point unset.
execute_process(
  COMMAND ${CC} -shared -nostdlib -s -o ${OUTPUT_DIR}/covemark.dll
          ${work}/entry_point.o ${work}/covemark_res.o -lkernel32
          -Wl,--entry,_DllMain@12 -Wl,--fatal-warnings -Wl,--no-insert-timestamp
          -Wl,--image-base,0x10000000 -Wl,--exclude-all-symbols -Wl,--subsystem,windows
  COMMAND_ERROR_IS_FATAL ANY)
