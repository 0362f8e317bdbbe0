# Sourced by the scripts that configure CMake (after setting root): compiles go through ccache where
# set-up installed it, so that a rerun, another clone of the sources and the package test's build
# from nothing reuse what was compiled before. Paths below the sources count relative to them.
cmake_launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  # The test programs' precompiled headers: cached too, their compiles keyed on the header's text.
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
  cmake_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
