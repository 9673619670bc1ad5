# The core's sources, shared by the programs' build and the fuzzers' build, with the
# translation table that is generated from the Qt Linguist files so that the core
# speaks both languages without Qt.
set(ZARVIK_TS_FILES ${PROJECT_SOURCE_DIR}/i18n/zarvik_en.ts ${PROJECT_SOURCE_DIR}/i18n/zarvik_ru.ts)
set(ZARVIK_TRANSLATIONS_CPP ${PROJECT_BINARY_DIR}/generated/translations.cpp)
string(REPLACE ";" "|" zarvik_ts_arg "${ZARVIK_TS_FILES}")
add_custom_command(
  OUTPUT ${ZARVIK_TRANSLATIONS_CPP}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${ZARVIK_TRANSLATIONS_CPP} -DTS_FILES=${zarvik_ts_arg}
          -P ${PROJECT_SOURCE_DIR}/cmake/ts_to_cpp.cmake
  DEPENDS ${ZARVIK_TS_FILES} ${PROJECT_SOURCE_DIR}/cmake/ts_to_cpp.cmake
  VERBATIM)

set(zarvik_src ${PROJECT_SOURCE_DIR}/src)
set(ZARVIK_CORE_SOURCES
  ${zarvik_src}/memory/device_model.cpp
  ${zarvik_src}/memory/elf_loader.cpp
  ${zarvik_src}/memory/file_io.cpp
  ${zarvik_src}/memory/file_kind.cpp
  ${zarvik_src}/memory/intel_hex_loader.cpp
  ${zarvik_src}/memory/intel_hex_writer.cpp
  ${zarvik_src}/memory/serial_number.cpp
  ${zarvik_src}/loader/chip_identity.cpp
  ${zarvik_src}/link/clock.cpp
  ${zarvik_src}/loader/loader_signature.cpp
  ${zarvik_src}/loader/loader_session.cpp
  ${zarvik_src}/loader/speed_choice.cpp
  ${zarvik_src}/programmer/partial_pages.cpp
  ${zarvik_src}/programmer/patch_check.cpp
  ${zarvik_src}/loader/handshake.cpp
  ${zarvik_src}/loader/protocol.cpp
  ${zarvik_src}/loader/wire.cpp
  ${zarvik_src}/loader/wait_count.cpp
  ${zarvik_src}/programmer/loader_configuration.cpp
  ${zarvik_src}/text/language.cpp
  ${zarvik_src}/text/number_text.cpp
  ${zarvik_src}/programmer/programmer.cpp
  ${zarvik_src}/programmer/fast_road.cpp
  ${zarvik_src}/programmer/plain_road.cpp
  ${zarvik_src}/programmer/road.cpp
  ${zarvik_src}/programmer/status_texts.cpp
  ${zarvik_src}/platform/system_language.cpp
  ${ZARVIK_TRANSLATIONS_CPP}
)
# Windows: UTF-8 paths and texts become UTF-16 at the system's edge.
if(WIN32)
  list(APPEND ZARVIK_CORE_SOURCES ${zarvik_src}/platform/text_win.cpp)
endif()
set(ZARVIK_CORE_INCLUDES ${zarvik_src} ${PROJECT_BINARY_DIR}/generated)
