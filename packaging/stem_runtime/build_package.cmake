# Packs the stem runtime: run with cmake -P and
#   SEPARATOR (the executable), MODEL_DIR (its model folder), WORK_DIR (scratch),
#   OUTPUT (the .tar.gz to write), DIGEST_SOURCE (the C++ file that records its SHA-256).
cmake_minimum_required(VERSION 3.25)

foreach(name SEPARATOR MODEL_DIR WORK_DIR OUTPUT DIGEST_SOURCE)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "build_package.cmake needs ${name}")
  endif()
endforeach()

set(executable_path bin/fotivela-stem-separator)
set(model_file ${MODEL_DIR}/htdemucs.json)
if(NOT EXISTS ${model_file})
  message(FATAL_ERROR "The stem runtime model file is missing: ${model_file}")
endif()
file(READ ${model_file} model_json)
string(JSON version ERROR_VARIABLE json_error GET "${model_json}" version)
if(json_error OR NOT version MATCHES "^[A-Za-z0-9_+-][A-Za-z0-9._+-]*$")
  message(FATAL_ERROR "The model file's \"version\" is missing or not a plain version text: ${model_file}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/bin ${WORK_DIR}/model)
file(COPY_FILE ${SEPARATOR} ${WORK_DIR}/${executable_path})
set(payload ${executable_path})
file(GLOB_RECURSE model_files LIST_DIRECTORIES false RELATIVE ${MODEL_DIR} ${MODEL_DIR}/*)
list(SORT model_files)
foreach(relative IN LISTS model_files)
  if(relative MATCHES "[\"\\\\]")
    message(FATAL_ERROR "A model file name the manifest cannot hold: ${relative}")
  endif()
  get_filename_component(folder ${WORK_DIR}/model/${relative} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(COPY_FILE ${MODEL_DIR}/${relative} ${WORK_DIR}/model/${relative})
  list(APPEND payload model/${relative})
endforeach()

set(entries "")
foreach(relative IN LISTS payload)
  file(SHA256 ${WORK_DIR}/${relative} digest)
  file(SIZE ${WORK_DIR}/${relative} size)
  if(entries)
    string(APPEND entries ",\n")
  endif()
  string(APPEND entries "    {\"path\": \"${relative}\", \"sha256\": \"${digest}\", \"size\": ${size}}")
endforeach()
file(WRITE ${WORK_DIR}/manifest.json
  "{\n  \"format\": \"fotivela-stem-runtime-1\",\n  \"version\": \"${version}\",\n  \"files\": [\n${entries}\n  ]\n}\n")

# Fixed times, so the same inputs give the same archive.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT}.partial --format=gnutar "--mtime=2000-01-01 00:00:00Z" manifest.json bin model
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE tar_result)
if(NOT tar_result EQUAL 0)
  message(FATAL_ERROR "Packing the stem runtime failed (${tar_result})")
endif()
file(RENAME ${OUTPUT}.partial ${OUTPUT})
file(REMOVE_RECURSE ${WORK_DIR})

file(SHA256 ${OUTPUT} STEM_RUNTIME_SHA256)
file(SIZE ${OUTPUT} STEM_RUNTIME_SIZE)
set(STEM_RUNTIME_VERSION ${version})
set(STEM_RUNTIME_PACKAGE ${OUTPUT})
get_filename_component(here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
configure_file(${here}/package_digest.cpp.in ${DIGEST_SOURCE} @ONLY)
file(TOUCH ${DIGEST_SOURCE})
