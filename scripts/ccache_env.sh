# Sourced by the scripts that configure CMake (after setting root): compiles go through ccache where
# set-up installed it, so that a rerun, another clone of the sources and the package test's build
# from nothing reuse what was compiled before. Paths below the sources count relative to them.
cmake_launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  # A build with line tables (the sanitizer and fuzz builds) would otherwise be keyed on the
  # folder it was compiled in: every fresh clone compiled it again. The tables' folder is then
  # the first clone's; the file names in them are relative to the build (the base folder above).
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  # The test programs' precompiled headers: cached too, their compiles keyed on the header's text.
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
  cmake_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
