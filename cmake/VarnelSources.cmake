# Source collection shared by the library, the virtual head and the tests.
#
# Files are picked up by glob so that adding a file never means editing a
# shared list. Vector forms of the pixel routines are compiled with their own
# instruction-set flags, chosen by the file name's suffix (demosaic_sse2.cpp);
# the rest of the library stays at the baseline so that it runs on any
# processor the DLL may meet, and the routine tables decide at run time.

function(varnel_collect_sources out_var)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.c)
  if(WIN32)
    list(FILTER all EXCLUDE REGEX "/src/platform/posix/")
  else()
    list(FILTER all EXCLUDE REGEX "/src/platform/win32/")
    list(FILTER all EXCLUDE REGEX "/src/dialogs/win32/")
  endif()
  set(${out_var} ${all} PARENT_SCOPE)
endfunction()

function(varnel_apply_simd_flags sources_var)
  foreach(f IN LISTS ${sources_var})
    get_filename_component(name ${f} NAME_WE)
    set(flags)
    if(name MATCHES "_mmx$")
      set(flags -mmmx)
    elseif(name MATCHES "_sse2$")
      set(flags -msse2)
    elseif(name MATCHES "_sse3$")
      set(flags -msse3)
    elseif(name MATCHES "_avx2$")
      set(flags -mavx2)
    elseif(name MATCHES "_avx512$")
      set(flags -mavx512f -mavx512bw -mavx512vl)
    elseif(name MATCHES "_avx512vbmi$")
      set(flags -mavx512f -mavx512bw -mavx512vl -mavx512vbmi)
    endif()
    if(flags)
      # The vector forms are templates over one-line wrappers of the
      # instruction-set builtins, which only become straight vector code when
      # they are inlined: -O2 makes sure of that in the sanitizer trees too
      # (built at -O1), where every wrapper would otherwise be a call.
      list(APPEND flags -O2)
      if(VARNEL_X86_32)
        # 32-bit Windows callers keep only 4-byte stack alignment; vector code
        # that spills 16-byte registers must realign its own frame.
        list(APPEND flags -mstackrealign)
      endif()
      set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS "${flags}")
    endif()
  endforeach()
endfunction()
