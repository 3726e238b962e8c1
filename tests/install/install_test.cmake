file(REMOVE_RECURSE ${PREFIX} ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
foreach(f ${LIBDIR}/libogmdecaps.so ${LIBDIR}/Ravel.so
          ${LIBDIR}/RavelCache.so ${LIBDIR}/RavelHTTP.so
          include/ogmdecaps/ogmdecaps.h bin/ogmdecaps
          ${LIBDIR}/pkgconfig/ogmdecaps.pc
          ${LIBDIR}/cmake/ogmdecaps/ogmdecapsConfig.cmake)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "missing from the install: ${f}")
  endif()
endforeach()

# A host project found through the CMake package.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK} -DCMAKE_PREFIX_PATH=${PREFIX}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "find_package consumer does not configure:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "find_package consumer does not build:\n${out}")
endif()
execute_process(COMMAND ${WORK}/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer failed: ${out}")
endif()

# The same through pkg-config.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ogmdecaps OUTPUT_VARIABLE flags RESULT_VARIABLE rc
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know ogmdecaps")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND cc -std=c99 ${CONSUMER}/consumer.c ${flags}
                        -Wl,-rpath,${PREFIX}/${LIBDIR} -o ${WORK}/consumer_pc
                RESULT_VARIABLE rc ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config consumer does not build: ${out}")
endif()
execute_process(COMMAND ${WORK}/consumer_pc RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config consumer failed")
endif()
