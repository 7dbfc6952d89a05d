# The warnings of every target that Halvic builds: the engine, the programs, the tests, the fuzz
# targets and the benchmarks. Set here once, for the whole source tree below the top directory,
# so that no target is left out and none needs its own list. Included after GoogleTest's sources
# (Windows builds them), whose code is not ours to keep free of warnings.
set(HALVIC_WARNINGS -Wall -Wextra -Wpedantic -Wconversion)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${HALVIC_WARNINGS}>")
